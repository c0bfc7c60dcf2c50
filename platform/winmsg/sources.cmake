target_sources(vplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/winmsg.cpp)
