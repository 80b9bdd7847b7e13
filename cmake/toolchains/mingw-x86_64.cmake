# Cross-builds the Windows programs for x86_64 with Debian's mingw-w64 (the
# posix thread model, which the standard library's threads need) and runs
# the test programs under Wine.
set(QUILLBOX_MINGW_TRIPLE x86_64-w64-mingw32)
set(QUILLBOX_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
