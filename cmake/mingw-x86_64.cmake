# Cross-builds 64-bit Windows programs with Debian's mingw-w64 (the -posix
# compilers, whose threads give std::thread), run under Wine's wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BT_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# ctest runs the tests through Wine. Debian keeps wine64 out of PATH.
find_program(BT_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(BT_WINE64 NAMES wine64 wine)
if(BT_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BT_WINE64})
endif()
