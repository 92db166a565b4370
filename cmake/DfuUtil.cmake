# The USB DFU flasher the updater runs: the system's dfu-util (Debian's package; tools/setup.sh
# installs it). The updater runs the "dfu-util" in its own directory, which is a link to the
# system's program both in the build tree and once installed: nothing of dfu-util is copied.
include_guard(GLOBAL)
include(GNUInstallDirs)

find_program(VQ_DFU_UTIL dfu-util DOC "The system's dfu-util, found at build time")
if(NOT VQ_DFU_UTIL)
  message(FATAL_ERROR "dfu-util not found: run tools/setup.sh (Debian package dfu-util), "
                      "or set VQ_DFU_UTIL to the program's path")
endif()
# Where the installed link points: the flasher's place on the machines the program is installed
# on (Debian: /usr/bin/dfu-util), by default where this build found it.
set(VQ_DFU_UTIL_INSTALLED ${VQ_DFU_UTIL} CACHE FILEPATH
    "The dfu-util the installed updater's link points to")

# The internal program directory: the updater and the flasher's link side by side; the bin
# directory only holds a link to the updater (the updater finds the flasher beside the link's
# target).
set(VQ_INSTALL_PROGRAMDIR "lib/vq320-updater" CACHE STRING
    "Directory, relative to the prefix, for the updater executable and its dfu-util link")

# Links dfu-util into the directory of <target>'s executable after every link of it.
function(vq_place_dfu_util target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${VQ_DFU_UTIL}
            $<TARGET_FILE_DIR:${target}>/dfu-util
    COMMENT "Linking dfu-util next to ${target}"
    VERBATIM)
endfunction()

# Installs the link <dir>/<name> -> <link_target>. The link is made in the build tree and
# installed as a file, so that install_manifest.txt lists it for an uninstall.
function(vq_install_link dir name link_target)
  set(link ${CMAKE_CURRENT_BINARY_DIR}/install-links/${dir}/${name})
  get_filename_component(link_dir ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${link_dir})
  file(CREATE_LINK ${link_target} ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION ${dir})
endfunction()

# Installs the flasher's link into the program directory. It is made at install time, when the
# prefix is known (the package installs into /usr, `cmake --install` wherever it is told):
# relative within one top-level directory, absolute across them, as Debian's policy asks.
function(vq_install_dfu_util_link)
  string(CONFIGURE [[
    set(vq_dir "${CMAKE_INSTALL_PREFIX}/@VQ_INSTALL_PROGRAMDIR@")
    set(vq_target "@VQ_DFU_UTIL_INSTALLED@")
    string(REGEX MATCH "^/[^/]*" vq_dir_top "${vq_dir}")
    string(REGEX MATCH "^/[^/]*" vq_target_top "${vq_target}")
    if(vq_dir_top STREQUAL vq_target_top)
      file(RELATIVE_PATH vq_target "${vq_dir}" "${vq_target}")
    endif()
    set(vq_link "$ENV{DESTDIR}${vq_dir}/dfu-util")
    message(STATUS "Installing: ${vq_link} -> ${vq_target}")
    file(MAKE_DIRECTORY "$ENV{DESTDIR}${vq_dir}")
    file(CREATE_LINK "${vq_target}" "${vq_link}" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${vq_link}")
  ]] vq_code @ONLY)
  install(CODE "${vq_code}")
endfunction()

# Installs <target> into the program directory with the flasher's link beside it, and links
# <bindir>/<target> to it.
function(vq_install_with_dfu_util target)
  install(TARGETS ${target} RUNTIME DESTINATION ${VQ_INSTALL_PROGRAMDIR})
  vq_install_dfu_util_link()
  # A relative link, so the tree stays valid wherever DESTDIR puts it.
  file(RELATIVE_PATH link_target ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${VQ_INSTALL_PROGRAMDIR}/${target})
  vq_install_link(${CMAKE_INSTALL_BINDIR} ${target} ${link_target})
endfunction()
