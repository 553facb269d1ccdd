# Cross build for x86_64 Windows with mingw-w64 (posix thread model: std::thread
# and std::mutex, which GoogleTest needs). Programs run under Wine when
# CMake or ctest has to start them (test discovery, the test runs).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TYPERECOVERY_MINGW_PREFIX x86_64-w64-mingw32)
set(TYPERECOVERY_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
