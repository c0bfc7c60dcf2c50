target_sources(vplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/guid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/taskmem.cpp)
