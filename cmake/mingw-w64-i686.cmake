# Cross build for 32-bit Windows (x86) with Debian's mingw-w64 compilers.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZELKOR_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
