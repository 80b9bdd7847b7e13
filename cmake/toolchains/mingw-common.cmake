# Shared part of the mingw-w64 toolchain files. They set QUILLBOX_MINGW_TRIPLE
# and QUILLBOX_WINE_LOADER, the Wine loader that runs the test programs of
# that architecture (see cmake/WineEmulator.cmake).
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${QUILLBOX_MINGW_TRIPLE})

set(CMAKE_C_COMPILER ${QUILLBOX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLBOX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLBOX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLBOX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs must run from any folder with nothing beside them: the
# compiler's runtime and the thread library are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
