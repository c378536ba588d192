# Cross-builds 32-bit Windows programs with Debian's mingw-w64 (the -posix
# compilers, whose threads give std::thread). Built only: this machine's Wine
# runs no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(BT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
