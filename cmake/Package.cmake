# Debian package: the deb target, which runs cpack in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel-filter)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(VANTREL_MAINTAINER "Vantrel filter maintainers <vantrel-filter@vantrel.com>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${VANTREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keyword list editor for a web-server SQL injection filter")
set(CPACK_PACKAGE_DESCRIPTION [[
A desktop tool, in Simplified Chinese, for the operator of a web site whose
web-server request filter blocks every request with a listed keyword in its
URL. It shows the keyword list, adds and deletes keywords and restores the
twelve defaults. Saving rewrites the list in /var/opt/vantrel-filter and
publishes a copy as /tarnwick/inject.txt (GBK, CR LF), where the filter
reads it. Members of the vantrel-filter group may save.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_STRIP_FILES ON)
# The program goes to an absolute folder, so stage through DESTDIR; the rest
# goes under /usr, like any Debian package's.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)

# The libraries it links come from dpkg-shlibdeps; what it loads at run time
# (the X11 platform plugin), a font that has the interface's Chinese and what
# the maintainer scripts run do not.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")

# No conffiles: the list is data that the program rewrites, kept in /var/opt
# by the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/cmake/debian/preinst"
    "${PROJECT_SOURCE_DIR}/cmake/debian/postinst"
    "${PROJECT_SOURCE_DIR}/cmake/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Reproducible: every time in the package is the last commit's.
set(CPACK_VANTREL_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/PackageTime.cmake")
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/DebWithoutOpt.cmake")

include(CPack)

# `cmake --build build --target deb` makes the package with what only it needs.
add_custom_target(deb COMMAND ${CMAKE_CPACK_COMMAND} WORKING_DIRECTORY "${PROJECT_BINARY_DIR}" VERBATIM)
add_dependencies(deb package-files vantrel-filter)
