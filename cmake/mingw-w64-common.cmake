# Shared part of the mingw-w64 cross toolchains; the including file sets
# CMAKE_SYSTEM_PROCESSOR and ZELKOR_MINGW_TRIPLET.
# The posix thread model is named explicitly: GCC 12's win32 model has no
# std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZELKOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELKOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELKOR_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${ZELKOR_MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump of the target")

set(CMAKE_FIND_ROOT_PATH /usr/${ZELKOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthreads go into each binary, so that the DLL
# and the programs need nothing beyond Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, started by a script that can also put a
# simulated reader behind a COM port first.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh)
