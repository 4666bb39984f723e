# Dependencies of a cross build. The host's packages of CLI11 and
# nlohmann_json are header-only, but their CMake configurations add
# /usr/include to the include path, which would put glibc's headers in
# front of the target's. Their headers are copied to a directory of their
# own in the build tree and offered under the usual target names.
# GoogleTest is built from its sources (Debian: /usr/src/googletest) with
# the cross compiler.
set(_xelo_staged ${CMAKE_BINARY_DIR}/staged-include)
foreach(_dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${_dir})
    message(FATAL_ERROR "cross build: /usr/include/${_dir} is missing (libcli11-dev, nlohmann-json3-dev)")
  endif()
  file(COPY /usr/include/${_dir} DESTINATION ${_xelo_staged})
endforeach()
add_library(xelo_staged_cli11 INTERFACE)
target_include_directories(xelo_staged_cli11 SYSTEM INTERFACE ${_xelo_staged})
add_library(CLI11::CLI11 ALIAS xelo_staged_cli11)
add_library(xelo_staged_json INTERFACE)
target_include_directories(xelo_staged_json SYSTEM INTERFACE ${_xelo_staged})
add_library(nlohmann_json::nlohmann_json ALIAS xelo_staged_json)

if(XELO_BUILD_TESTS)
  set(XELO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${XELO_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
