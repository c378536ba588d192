# What the tests of a cross build need: GoogleTest, built for the target from
# Debian's sources (the googletest package), and, when the toolchain names
# Wine as the emulator, a Wine prefix of the build's own for them to run in.

set(BT_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
set(BUILD_GMOCK OFF)
set(INSTALL_GTEST OFF)
# Built with GoogleTest's own warning flags, not the project's.
get_directory_property(bt_compile_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory(${BT_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${bt_compile_options}")

if(CMAKE_CROSSCOMPILING_EMULATOR)
  get_filename_component(bt_wine_dir ${CMAKE_CROSSCOMPILING_EMULATOR} DIRECTORY)
  find_program(BT_WINESERVER NAMES wineserver HINTS ${bt_wine_dir} /usr/lib/wine REQUIRED)
  set(bt_wine_prefix ${CMAKE_BINARY_DIR}/wine-prefix)
  set(bt_wine_script ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh)

  # A new prefix for every test run, started once and complete (its HID
  # devices present) before the first test; its wineserver ends with the run.
  add_test(NAME wine_prefix_make
           COMMAND sh ${bt_wine_script} make ${bt_wine_prefix}
                   ${CMAKE_CROSSCOMPILING_EMULATOR} ${BT_WINESERVER})
  add_test(NAME wine_prefix_stop
           COMMAND sh ${bt_wine_script} stop ${bt_wine_prefix}
                   ${CMAKE_CROSSCOMPILING_EMULATOR} ${BT_WINESERVER})
  set_tests_properties(wine_prefix_make PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 180)
  set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix TIMEOUT 60)

endif()

# Runs a test through Wine, in the prefix, apart from Wine's noise. Does
# nothing without an emulator.
function(bt_emulated_test name)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # A program that hangs fails.
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED wine_prefix
      TIMEOUT 120
      ENVIRONMENT "WINEPREFIX=${bt_wine_prefix};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
  endif()
endfunction()
