# `cmake --install`: the program folder (the executables, their shared libraries and filters/,
# found by the program as APP_PATH + "filters/"), a launcher on the PATH, the desktop entry, the
# icon in the hicolor theme and the AppStream metadata. scripts/package builds the per-user
# installer from the same tree.
include(GNUInstallDirs)

set(VELTRO_INSTALL_APPDIR "${CMAKE_INSTALL_LIBDIR}/veltro" CACHE STRING
    "Program folder under the prefix (the executables, their libraries and filters/)")

# Every target defined below `dir`.
function(veltro_collect_targets dir result)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    veltro_collect_targets(${sub} sub_targets)
    list(APPEND targets ${sub_targets})
  endforeach()
  set(${result} ${targets} PARENT_SCOPE)
endfunction()

veltro_collect_targets(${CMAKE_SOURCE_DIR} veltro_all_targets)
set(veltro_filters "")
set(veltro_libraries "")
foreach(target IN LISTS veltro_all_targets)
  get_target_property(type ${target} TYPE)
  get_target_property(library_dir ${target} LIBRARY_OUTPUT_DIRECTORY)
  if(type STREQUAL "MODULE_LIBRARY" AND library_dir STREQUAL VELTRO_FILTER_DIR)
    list(APPEND veltro_filters ${target})
  elseif(type STREQUAL "SHARED_LIBRARY")
    list(APPEND veltro_libraries ${target})
  endif()
endforeach()

if(NOT TARGET veltro)
  return()
endif()
set(veltro_programs veltro)
if(TARGET veltro-cli)
  list(APPEND veltro_programs veltro-cli)
endif()
install(TARGETS ${veltro_programs} RUNTIME DESTINATION ${VELTRO_INSTALL_APPDIR})
install(TARGETS ${veltro_libraries} LIBRARY DESTINATION ${VELTRO_INSTALL_APPDIR})
install(TARGETS ${veltro_filters} LIBRARY DESTINATION ${VELTRO_INSTALL_APPDIR}/filters)

# Launchers: bin/veltro -> the program folder's veltro (relative, so the tree can move).
cmake_path(RELATIVE_PATH VELTRO_INSTALL_APPDIR BASE_DIRECTORY ${CMAKE_INSTALL_BINDIR} OUTPUT_VARIABLE veltro_link_dir)
foreach(program IN LISTS veltro_programs)
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${veltro_link_dir}/${program}\" \"\${link}\" SYMBOLIC)
    message(STATUS \"Installing: \${link}\")")
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/packaging/veltro.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/veltro.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/io.veltro.Veltro.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
