# Cross build for i686 Windows with mingw-w64 (posix thread model: std::thread
# and std::mutex, which GoogleTest needs). Programs run under Wine when
# CMake or ctest has to start them (test discovery, the test runs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TYPERECOVERY_MINGW_PREFIX i686-w64-mingw32)

set(CMAKE_C_COMPILER ${TYPERECOVERY_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TYPERECOVERY_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TYPERECOVERY_MINGW_PREFIX}-windres)

# Target libraries come from the mingw root; headers-only packages of the
# build machine (CLI11, nlohmann-json) are added by the build itself.
set(CMAKE_FIND_ROOT_PATH /usr/${TYPERECOVERY_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks in the mingw root only: the build machine's .pc files
# (libtsk, for one) describe Linux libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${TYPERECOVERY_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

find_program(TYPERECOVERY_WINE NAMES wine)
if(TYPERECOVERY_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TYPERECOVERY_WINE})
endif()
