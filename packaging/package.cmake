# The Debian package (cpack -G DEB, or scripts/package-check): the tools, boardctl, the X11 backend's
# helper programs, the image codecs module and the manual pages, for the prefix /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ssp-suite)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ssp suite maintainers <maintainers@users.noreply.c-seed-f783d019.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "pasteboard and screen tools for a desktop assistant")
# CPack puts the summary first; the extended description follows, each line indented by one space.
set(CPACK_PACKAGE_DESCRIPTION "Ten small command-line programs that a host application starts one run
per request: they write text and images to the pasteboard in the shapes paste
targets expect, report and dump what the pasteboard holds, find and capture the
user's working window or display, stream a region of a display, and check the
screen-recording permission. Every answer is one compact JSON line.
.
The tools run on the user's X11 desktop, or on an embedded sandbox desktop kept
in one folder, for scripting and tests.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs and the module link are computed by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The sandbox opens SQLite with dlopen when its store is first used, so dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsqlite3-0 (>= 3.7.15)")
# The x11 backend needs an X server to talk to; the sandbox needs none.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xserver-xorg | xserver")
# Debian's documentation files: the copyright notice and the changelog.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/ssp-suite)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9n < '${PROJECT_SOURCE_DIR}/packaging/changelog' > '${CMAKE_BINARY_DIR}/packaging/changelog.gz'"
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION share/doc/ssp-suite)
include(CPack)
