# What puts the updater into a desktop: the menu entry, the software centre's metadata, icons,
# the .dfu file type, the man page, the changelog, the licence and (where it belongs) the udev
# rule.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(VQ_APP_ID it.mirt.VQ320Updater)
set(vq_resources ${PROJECT_SOURCE_DIR}/resources)

install(FILES ${vq_resources}/${VQ_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${vq_resources}/${VQ_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${vq_resources}/vq320-updater-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME vq320-updater.xml)
install(FILES ${vq_resources}/vq320-updater.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${vq_resources}/icons/${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME vq320-updater.png)
endforeach()

# The man page, compressed as Debian ships them (-n: no name or time stamp in the archive).
find_program(VQ_GZIP gzip REQUIRED)
set(vq_man_page ${CMAKE_CURRENT_BINARY_DIR}/vq320-updater.1.gz)
add_custom_command(OUTPUT ${vq_man_page}
  COMMAND ${VQ_GZIP} -9 -n -c ${vq_resources}/vq320-updater.1 > ${vq_man_page}
  DEPENDS ${vq_resources}/vq320-updater.1
  COMMENT "Compressing the man page"
  VERBATIM)
add_custom_target(vq320_man_page ALL DEPENDS ${vq_man_page})
install(FILES ${vq_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The release history, in Debian's changelog format and compressed the same way: the package is
# its own upstream, so it is the changelog.gz a native package keeps in its documentation folder.
set(vq_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${vq_changelog}
  COMMAND ${VQ_GZIP} -9 -n -c ${vq_resources}/changelog > ${vq_changelog}
  DEPENDS ${vq_resources}/changelog
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(vq320_changelog ALL DEPENDS ${vq_changelog})
install(FILES ${vq_changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The licence, in the machine-readable copyright format Debian keeps in the documentation folder.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE vq_license_body)
string(REGEX REPLACE "^[^\n]*\n\n" "" vq_license_body "${vq_license_body}") # the title
string(STRIP "${vq_license_body}" vq_license_body)
string(REPLACE "\n\n" "\n.\n" vq_license_body "${vq_license_body}")
string(REPLACE "\n" "\n " vq_license_body " ${vq_license_body}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: vq320-updater\n\n"
     "Files: *\nCopyright: 2026 Mirt and the Mirt VQ320 Firmware Updater contributors\n"
     "License: MIT\n${vq_license_body}\n")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Write access to the mixer's DFU loader (0483:df11) for the logged-in user. Debian's and
# Ubuntu's dfu-util package already grants it (60-dfu-util.rules), so the rule is off by default;
# switch it on for a system install where dfu-util comes without that rule. udev reads only
# /usr/lib/udev/rules.d and /etc/udev/rules.d, so a per-user prefix never installs it.
option(VQ_INSTALL_UDEV_RULE "Install the udev rule for the mixer's DFU loader" OFF)
if(VQ_INSTALL_UDEV_RULE)
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(vq_udev_dir /usr/lib/udev/rules.d)
  elseif(CMAKE_INSTALL_PREFIX MATCHES "^/(usr/local|opt)(/|$)")
    set(vq_udev_dir /etc/udev/rules.d)
  else()
    message(WARNING "VQ_INSTALL_UDEV_RULE: ${CMAKE_INSTALL_PREFIX} is no system prefix; "
                    "the udev rule is not installed")
  endif()
  if(vq_udev_dir)
    install(FILES ${vq_resources}/49-mirt-vq320-dfu.rules DESTINATION ${vq_udev_dir})
  endif()
endif()
