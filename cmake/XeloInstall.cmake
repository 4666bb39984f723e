# Installation: headers, libraries, an exported CMake package
# (find_package(Xelo) gives Xelo::com, Xelo::opc, ...) and a pkg-config file.
include(CMakePackageConfigHelpers)

get_property(_xelo_libraries GLOBAL PROPERTY XELO_LIBRARIES)
install(TARGETS ${_xelo_libraries} EXPORT XeloTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY xelo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(EXPORT XeloTargets NAMESPACE Xelo:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Xelo)

configure_package_config_file(cmake/XeloConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/XeloConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Xelo)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/XeloConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/XeloConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/XeloConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Xelo)

list(TRANSFORM _xelo_libraries PREPEND "-l" OUTPUT_VARIABLE _xelo_link_flags)
list(REVERSE _xelo_link_flags)
list(JOIN _xelo_link_flags " " XELO_PKG_LIBS)
configure_file(cmake/xelo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/xelo.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/xelo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
