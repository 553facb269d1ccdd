# Windows (mingw-w64) specifics of the build, included by the top-level
# CMakeLists.txt after the library target exists.
#
# - typerecovery.dll (no "lib" prefix) with its import library
#   libtyperecovery.dll.a. Its exports come from typerecovery.def, written
#   from the public header (cmake/WriteDefFile.cmake) and installed for hosts
#   of other toolchains (lib /def:typerecovery.def makes their import
#   library). The compiler's own dllexport marks are not used: mingw's g++
#   adds the type information of every internal polymorphic class to them.
# - The C and C++ runtimes and winpthread are linked statically, so the DLL
#   and the programs need no runtime DLL beside them (a missing one makes a
#   program exit without any message).
# - Header-only packages of the build machine (CLI11, nlohmann-json) are
#   made visible to the cross build through a folder holding only them:
#   adding the machine's /usr/include would put its C library headers in
#   front of mingw's.
# - GoogleTest is built from its sources (/usr/src/googletest).

set(TYPERECOVERY_DEF ${CMAKE_BINARY_DIR}/typerecovery.def)
add_custom_command(OUTPUT ${TYPERECOVERY_DEF}
  COMMAND ${CMAKE_COMMAND} -DHEADER=${CMAKE_SOURCE_DIR}/include/typerecovery.h -DNM=${CMAKE_NM}
    "-DOBJECT=$<FILTER:$<TARGET_OBJECTS:typerecovery_core>,INCLUDE,/BaseArray\\.cpp\\.obj$>"
    -DOUTPUT=${TYPERECOVERY_DEF} -P ${CMAKE_SOURCE_DIR}/cmake/WriteDefFile.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/include/typerecovery.h ${CMAKE_SOURCE_DIR}/cmake/WriteDefFile.cmake
    $<TARGET_OBJECTS:typerecovery_core>
  COMMENT "Listing the exports of typerecovery.dll"
  VERBATIM)
target_sources(typerecovery PRIVATE ${TYPERECOVERY_DEF})
set_target_properties(typerecovery PROPERTIES PREFIX "" OUTPUT_NAME typerecovery)
target_link_options(typerecovery PRIVATE -static)
# Targets defined after this point (the tool, the tests) link statically too,
# and all programs land beside the DLL, where Windows looks for it.
add_link_options(-static)
set_target_properties(typerecovery PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Paths and arguments of any language: the programs ask for UTF-8 as their
# code page (see cli/), the library itself only makes wide calls.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

set(TYPERECOVERY_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${TYPERECOVERY_HOST_HEADERS})
foreach(pair "CLI11;CLI;CLI/CLI.hpp" "nlohmann_json;nlohmann;nlohmann/json.hpp")
  list(GET pair 0 package)
  list(GET pair 1 folder)
  list(GET pair 2 probe)
  if(NOT TARGET ${package}::${package} AND EXISTS /usr/include/${probe})
    file(CREATE_LINK /usr/include/${folder} ${TYPERECOVERY_HOST_HEADERS}/${folder} SYMBOLIC)
    add_library(${package}::${package} INTERFACE IMPORTED)
    set_target_properties(${package}::${package} PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES ${TYPERECOVERY_HOST_HEADERS})
  endif()
endforeach()

if(TYPERECOVERY_TESTS AND NOT TARGET GTest::gtest AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

# Test programs are listed when ctest runs, not after each build: a 32-bit
# build must compile on a machine whose Wine cannot start it.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

install(FILES ${CMAKE_BINARY_DIR}/typerecovery.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
