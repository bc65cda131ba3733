# Cross-building for Windows (x86_64) with Debian's MinGW-w64 compilers, the
# posix-thread variant (std::thread and std::mutex need it).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
