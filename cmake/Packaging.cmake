# What a user installs besides the two programs (their folders install them):
# the manual pages, gzip-compressed as Debian expects, and the README. Nothing
# else has install rules, so a build with tests and benchmarks installs the
# same files as one without.
include(GNUInstallDirs)
if(WIN32)
  return()
endif()

find_program(QUILLBOX_GZIP gzip REQUIRED)
set(manual_folder ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${manual_folder})
set(manual_pages)
foreach(page Quillbox.1 Veriprint.1)
  # -n leaves out the name and time of the source, so the same page always
  # gives the same bytes.
  add_custom_command(OUTPUT ${manual_folder}/${page}.gz
    COMMAND ${QUILLBOX_GZIP} -9nc ${PROJECT_SOURCE_DIR}/man/${page} > ${manual_folder}/${page}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}
    COMMENT "Compressing the manual page ${page}")
  list(APPEND manual_pages ${manual_folder}/${page}.gz)
endforeach()
add_custom_target(quillbox_manual_pages ALL DEPENDS ${manual_pages})
install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillbox)

# The Debian package is made only from a native build: a sanitizer or fuzzer
# build's programs are not for users, and a cross build's are not for this
# machine's dpkg.
if(CMAKE_CROSSCOMPILING OR QUILLBOX_SANITIZE OR QUILLBOX_FUZZ)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillbox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillbox developers <quillbox@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "game content package manager and anti-cheat hash tool")
# Debian shows the description as it stands: lines stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION [[
Quillbox lists, installs and uninstalls the content packages of a game
installation, turns MIX archives into packages and downloads packages
from a repository on any static HTTP server. Every content file is
stored once and shared by the packages that contain it.

Veriprint prints the line that the game's anti-cheat list holds for a
game file: an MD5 digest and the file's name.]])
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps names the runtime libraries the programs link (libcurl and
# libcrypto among them), so Depends follows the build instead of a hand-kept list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The debug information of RelWithDebInfo stays in the build folder.
set(CPACK_STRIP_FILES ON)
include(CPack)
