# Compiler settings shared by every target of the project.
add_library(xelo_options INTERFACE)
target_compile_options(xelo_options INTERFACE -Wall -Wextra)
if(XELO_WERROR)
  target_compile_options(xelo_options INTERFACE -Werror)
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
install(TARGETS xelo_options EXPORT XeloTargets)

# xelo_add_library(<name> SOURCES ... DEPENDS ...): a library of the project,
# exported as Xelo::<name>, with include paths rooted at the repository.
function(xelo_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(xelo_${name} STATIC ${ARG_SOURCES})
  add_library(Xelo::${name} ALIAS xelo_${name})
  set_target_properties(xelo_${name} PROPERTIES EXPORT_NAME ${name} POSITION_INDEPENDENT_CODE ON)
  target_include_directories(xelo_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(xelo_${name} PUBLIC xelo_options ${ARG_DEPENDS})
  set_property(GLOBAL APPEND PROPERTY XELO_LIBRARIES xelo_${name})
endfunction()
