# Capture devices: the system device enumerator, V4L2 cameras, PulseAudio sources, the virtual
# test devices and removal notifications.
pkg_check_modules(VELTRO_DEVICE_LIBS REQUIRED IMPORTED_TARGET libpulse libudev)
target_sources(vplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/video_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/capture_media_types.cpp
  ${CMAKE_CURRENT_LIST_DIR}/v4l2_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/v4l2_camera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pulse_microphone.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_pattern.cpp
  ${CMAKE_CURRENT_LIST_DIR}/brightness.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tone.cpp
  ${CMAKE_CURRENT_LIST_DIR}/virtual_devices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_watch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/capture_timeline.cpp
  ${CMAKE_CURRENT_LIST_DIR}/capture_pin.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_capture_filter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/audio_capture_filter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_enumerator.cpp)
target_link_libraries(vplatform PRIVATE PkgConfig::VELTRO_DEVICE_LIBS)
