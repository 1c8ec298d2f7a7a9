# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SKOV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SKOV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKOV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SKOV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SKOV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One file per program: the C++ runtime and winpthreads linked in, so the
# programs need nothing but Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Built programs (tests, test discovery) run under wine on the build machine.
find_program(SKOV_WINE NAMES wine64 wine)
if(SKOV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SKOV_WINE})
endif()
