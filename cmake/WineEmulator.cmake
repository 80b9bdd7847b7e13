# Test programs of a Windows cross build run under Wine. CTest and test
# discovery start them through CMAKE_CROSSCOMPILING_EMULATOR: a script in the
# build folder that gives the build a Wine prefix of its own (created on first
# use), silences Wine's diagnostics (they would mix with the output the tests
# compare) and starts the loader of the target's architecture.
if(NOT QUILLBOX_WINE)
  find_program(QUILLBOX_WINE NAMES ${QUILLBOX_WINE_LOADER} wine HINTS /usr/lib/wine)
endif()
find_program(QUILLBOX_WINESERVER NAMES wineserver HINTS /usr/lib/wine)
# Debian's loader for 32-bit programs is itself a 32-bit program, which a
# kernel without 32-bit support cannot start.
set(wine_runs FALSE)
if(QUILLBOX_WINE AND QUILLBOX_WINESERVER)
  execute_process(COMMAND ${QUILLBOX_WINE} --version RESULT_VARIABLE wine_status OUTPUT_QUIET ERROR_QUIET)
  if(wine_status EQUAL 0)
    set(wine_runs TRUE)
  endif()
endif()
if(NOT wine_runs)
  # Test discovery runs every test program as soon as it is linked.
  message(STATUS "No Wine that runs this architecture's programs here: the Windows programs are built, their tests are not")
  set(BUILD_TESTING OFF)
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(QUILLBOX_WINE_ARCH win32)
else()
  set(QUILLBOX_WINE_ARCH win64)
endif()
set(QUILLBOX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
