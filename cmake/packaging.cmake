# Installation of everything beside the programs, and the .tar.gz of the installed tree.
# The Debian package is built from debian/ with dpkg-buildpackage (packaging/check_deb.sh).
include(GNUInstallDirs)

install(FILES man/tonbrix.1 man/tonbrix-decode.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# bash-completion loads a completion on demand from a file named after the command.
install(FILES completion/tonbrix completion/tonbrix-decode
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES examples/demo.img DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME tonbrix)
set(CPACK_PACKAGE_VENDOR "Tonbrix")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}")
set(CPACK_STRIP_FILES ON)

include(CPack)
