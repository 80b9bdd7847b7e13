# Cross-builds the 32-bit Windows programs with Debian's mingw-w64 (the posix
# thread model, which the standard library's threads need) and runs the test
# programs under Wine (Debian's wine32 from the i386 architecture).
set(QUILLBOX_MINGW_TRIPLE i686-w64-mingw32)
set(QUILLBOX_WINE_LOADER wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
