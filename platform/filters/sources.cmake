# The platform filters: Video Renderer, Sample Grabber, Null Renderer, File Writer, MJPEG decompressor.
pkg_check_modules(VELTRO_FILTERS_AV REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale)
target_sources(vplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/file_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mjpeg_decompressor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/null_renderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/register.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sample_grabber.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_renderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_surface.cpp)
target_link_libraries(vplatform PRIVATE PkgConfig::VELTRO_FILTERS_AV)
