# What both mingw-w64 cross builds share; the architecture's file sets
# CMAKE_SYSTEM_PROCESSOR, TYPERECOVERY_MINGW_PREFIX and the Wine programs
# that can run its executables (TYPERECOVERY_WINE_NAMES), then includes this.
set(CMAKE_SYSTEM_NAME Windows)

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

find_program(TYPERECOVERY_WINE NAMES ${TYPERECOVERY_WINE_NAMES} PATHS /usr/lib/wine)
if(TYPERECOVERY_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TYPERECOVERY_WINE})
endif()
