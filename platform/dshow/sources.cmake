# The DirectShow-style runtime: interfaces, media types, base classes and the filter graph.
target_sources(vplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/amalloc.cpp
  ${CMAKE_CURRENT_LIST_DIR}/amfilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ampins.cpp
  ${CMAKE_CURRENT_LIST_DIR}/capgraph.cpp
  ${CMAKE_CURRENT_LIST_DIR}/combase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filtergraph.cpp
  ${CMAKE_CURRENT_LIST_DIR}/graph_walk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mtype.cpp
  ${CMAKE_CURRENT_LIST_DIR}/propertypage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/refclock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transfrm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transip.cpp
  ${CMAKE_CURRENT_LIST_DIR}/renbase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wxutil.cpp)
