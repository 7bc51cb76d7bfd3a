# Shared part of the mingw-w64 toolchain files; QERN_MINGW_TRIPLE names the
# target. The "-posix" compilers are the ones whose C++ library has
# std::mutex and std::thread (GoogleTest needs them); their winpthread
# library is linked statically like the rest of the runtime.
find_program(QERN_MINGW_CXX NAMES ${QERN_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(QERN_MINGW_CC NAMES ${QERN_MINGW_TRIPLE}-gcc-posix REQUIRED)
set(CMAKE_CXX_COMPILER ${QERN_MINGW_CXX})
set(CMAKE_C_COMPILER ${QERN_MINGW_CC})
set(CMAKE_RC_COMPILER ${QERN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QERN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C and C++ runtimes are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Executables built here run under wine (tests, discovery).
find_program(QERN_WINE NAMES wine)
if(QERN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QERN_WINE})
endif()
