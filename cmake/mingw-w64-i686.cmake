# Cross-building for Windows (i686) with Debian's MinGW-w64 compilers, the
# posix-thread variant (std::thread and std::mutex need it).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
