# What both mingw-w64 toolchains share; BT_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${BT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BT_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: the programs need no DLL of the
# toolchain's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
