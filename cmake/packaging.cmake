# Installation of everything beside the programs, and the .deb and .tar.gz packages.
include(GNUInstallDirs)

install(FILES man/tonbrix.1 man/tonbrix-decode.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads a completion on demand from a file named after the command.
install(FILES completion/tonbrix completion/tonbrix-decode
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_NAME tonbrix)
set(CPACK_PACKAGE_VENDOR "Tonbrix")
set(CPACK_PACKAGE_CONTACT "Tonbrix developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "tonbrix turns a PMD 85 or Mato tape image into a WAV file that the real machine loads \
from its tape input, or plays it straight into a pipe; tonbrix-decode recovers the tape \
image from a recording.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link (libc, libstdc++ and, once the decoder reads audio
# through it, libsndfile) become Depends through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "alsa-utils | pipewire-bin | sox, man-db, bash-completion")

include(CPack)
