target_sources(vplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/hivefile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/regfile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/regkey.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry.cpp)
