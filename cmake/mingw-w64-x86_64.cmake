# Cross build for 64-bit Windows with Debian's mingw-w64 compiler (posix threads variant), the
# test programs run under Wine:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUOR_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${QUOR_MINGW_TRIPLET}-g++-posix ${QUOR_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QUOR_MINGW_TRIPLET}-gcc-posix ${QUOR_MINGW_TRIPLET}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${QUOR_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's run-time (libstdc++, libgcc, winpthread) goes into every program and DLL, so
# that they run on a Windows station, or under Wine, without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine (ctest and the GoogleTest discovery prefix them with it).
find_program(QUOR_WINE NAMES wine64 wine)
if(QUOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUOR_WINE})
endif()
