# Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel-filter)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_CONTACT "Vantrel filter maintainers <vantrel-filter@localhost>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Keyword list editor for a web-server SQL injection filter")
set(CPACK_PACKAGE_DESCRIPTION
    "Keeps the URL keyword list of a web-server request filter: shows, adds, deletes and \
restores the built-in default keywords, and publishes the list as /tarnwick/inject.txt \
(GBK, one keyword per line).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_STRIP_FILES ON)
# The program goes to an absolute folder, so stage through DESTDIR; the menu
# entry and icons go under /usr, like any Debian package's.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)

# The libraries it links come from dpkg-shlibdeps; what it loads at run time
# (the X11 platform plugin) and a font that has the interface's Chinese do not.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")

# The working copy is the operator's list. As a conffile, an upgrade or a
# reinstall keeps an edited one, and only a purge removes it.
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles" "${VANTREL_PROGRAM_DIR}/inject.txt\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_BINARY_DIR}/debian/conffiles")

include(CPack)
