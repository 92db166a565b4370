# The Debian package: `cpack -G DEB` in a build tree (the README's package command uses the
# release tree) writes vq320-updater_<version>_<arch>.deb.
include_guard(GLOBAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vq320-updater)
set(CPACK_PACKAGE_VENDOR Mirt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Mirt VQ320 USB-MIDI mixer")
# The extended description as the control file shows it: lines within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION "\
Writes a new firmware image into the Mirt VQ320 USB-MIDI mixer. The program
shows whether the mixer is plugged in, lets the user choose the firmware file
(.dfu), restarts the mixer into its USB DFU loader and writes the image with
dfu-util, then tells how the update went.")
set(CPACK_PACKAGE_CONTACT "Mirt <support@mirt.it>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.mirt.it/")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links (Qt 6, libasound2, the C++ runtime) as dpkg-shlibdeps finds
# them on the building release, plus the flasher the program runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dfu-util")
# Qt's own dialog texts in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

include(CPack)
