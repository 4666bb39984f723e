# Installation: the public headers of each library under include/xelo/<name>/,
# the libraries, an exported CMake package (find_package(Xelo) gives
# Xelo::com, Xelo::opc, ...) and a pkg-config file. Both package files find
# the installation relative to their own place, so an installed tree can be
# moved or copied elsewhere as a whole.
include(CMakePackageConfigHelpers)

get_property(_xelo_libraries GLOBAL PROPERTY XELO_LIBRARIES)
install(TARGETS ${_xelo_libraries} EXPORT XeloTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(_library IN LISTS _xelo_libraries)
  get_target_property(_headers ${_library} XELO_PUBLIC_HEADERS)
  get_target_property(_name ${_library} EXPORT_NAME)
  get_target_property(_source_dir ${_library} SOURCE_DIR)
  # Headers in subdirectories (a back end's own) keep their place.
  foreach(_header IN LISTS _headers)
    file(RELATIVE_PATH _relative "${_source_dir}" "${_header}")
    get_filename_component(_subdirectory "${_relative}" DIRECTORY)
    install(FILES ${_header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/xelo/${_name}/${_subdirectory})
  endforeach()
endforeach()
install(EXPORT XeloTargets NAMESPACE Xelo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Xelo)

configure_package_config_file(cmake/XeloConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/XeloConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Xelo)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/XeloConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/XeloConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/XeloConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Xelo)

# pkg-config. The libraries are static, so Libs names all of them and what
# they need: every library comes before the ones it uses (each is defined
# after its dependencies, so the reverse definition order is such an order),
# then the threads library. The link options the exported targets carry
# come first; among them is the one that keeps the simulation server's
# self-registration (see servers/simulation/CMakeLists.txt), without which
# "Xelo.Sim.1" would be unknown to a program built from these flags.
# The Qt layer has a file of its own (xelo-qt.pc), which adds Qt's flags.
list(REMOVE_ITEM _xelo_libraries xelo_qt xelo_gui xelo_dialogs xelo_design)
list(TRANSFORM _xelo_libraries PREPEND "-l" OUTPUT_VARIABLE _xelo_link_flags)
list(REVERSE _xelo_link_flags)
set(_xelo_link_options "")
foreach(_library IN LISTS _xelo_libraries)
  get_target_property(_options ${_library} INTERFACE_LINK_OPTIONS)
  if(NOT _options)
    continue()
  endif()
  foreach(_option IN LISTS _options)
    if(_option MATCHES "\\$<")
      message(FATAL_ERROR "xelo.pc: cannot express the link option ${_option} of ${_library}")
    endif()
    # LINKER:a,b and -Wl,a,b both pass a and b to the linker.
    string(REGEX REPLACE "^LINKER:" "-Wl," _option "${_option}")
    list(APPEND _xelo_link_options "${_option}")
  endforeach()
endforeach()
list(JOIN _xelo_link_options " " XELO_PKG_LINK_OPTIONS)
list(JOIN _xelo_link_flags " " XELO_PKG_LIBS)

# prefix is the directory of the .pc file (${pcfiledir}) walked up past the
# library directory, however deep that is (lib, lib64, lib/x86_64-linux-gnu).
# Absolute install directories pin the file to them instead.
set(_xelo_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(XELO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(XELO_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(XELO_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH _xelo_pc_up "/${_xelo_pc_dir}" "/")
  string(REGEX REPLACE "/$" "" _xelo_pc_up "${_xelo_pc_up}")
  set(XELO_PC_PREFIX "\${pcfiledir}/${_xelo_pc_up}")
  set(XELO_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(XELO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(cmake/xelo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/xelo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/xelo.pc DESTINATION ${_xelo_pc_dir})
if(XELO_QT)
  configure_file(cmake/xelo-qt.pc.in ${CMAKE_CURRENT_BINARY_DIR}/xelo-qt.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/xelo-qt.pc DESTINATION ${_xelo_pc_dir})
endif()
