target_sources(vplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/bstr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/plugin.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/taskmem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/variant.cpp)
