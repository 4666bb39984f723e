# Compiler settings of this build: warnings, -Werror, sanitizers and fuzzer
# instrumentation. They are for our own code only. Every library links this
# target through $<BUILD_INTERFACE:...>, so the tests, programs, benchmarks
# and fuzz targets of this tree inherit them (the sanitizers' link flags
# included), while the exported package leaves them out: an application
# built against the installed libraries chooses its own warnings.
add_library(xelo_options INTERFACE)
if(MSVC)
  target_compile_options(xelo_options INTERFACE /W4 /utf-8 /Zc:__cplusplus)
  if(XELO_WERROR)
    target_compile_options(xelo_options INTERFACE /WX)
  endif()
else()
  target_compile_options(xelo_options INTERFACE -Wall -Wextra)
  if(XELO_WERROR)
    target_compile_options(xelo_options INTERFACE -Werror)
  endif()
endif()
if(XELO_SANITIZE)
  set(_xelo_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_compile_options(xelo_options INTERFACE ${_xelo_san})
  target_link_options(xelo_options INTERFACE ${_xelo_san})
endif()
if(XELO_BUILD_FUZZERS)
  # Coverage instrumentation for the libraries the fuzz targets exercise.
  target_compile_options(xelo_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_options(xelo_options INTERFACE -fsanitize=address,undefined)
endif()

# xelo_add_library(<name> SOURCES ... DEPENDS ... HEADERS ...): a library of
# the project, exported as Xelo::<name>, with include paths rooted at the
# repository. HEADERS are its public headers, installed as
# include/xelo/<name>/<file>; headers not listed are the library's own and
# stay in the tree, where its sources and tests include them as before.
# Users of the package need C++20 for our headers, so the exported targets
# ask for it.
function(xelo_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;HEADERS" ${ARGN})
  add_library(xelo_${name} STATIC ${ARG_SOURCES})
  add_library(Xelo::${name} ALIAS xelo_${name})
  set_target_properties(xelo_${name} PROPERTIES EXPORT_NAME ${name} POSITION_INDEPENDENT_CODE ON)
  target_include_directories(xelo_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_features(xelo_${name} PUBLIC cxx_std_20)
  target_link_libraries(xelo_${name} PUBLIC $<BUILD_INTERFACE:xelo_options> ${ARG_DEPENDS})
  set(_headers "")
  foreach(_header IN LISTS ARG_HEADERS)
    get_filename_component(_header "${_header}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${_header}")
      message(FATAL_ERROR "xelo_add_library(${name}): no public header ${_header}")
    endif()
    list(APPEND _headers "${_header}")
  endforeach()
  set_target_properties(xelo_${name} PROPERTIES XELO_PUBLIC_HEADERS "${_headers}")
  set_property(GLOBAL APPEND PROPERTY XELO_LIBRARIES xelo_${name})
endfunction()
