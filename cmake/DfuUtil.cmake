# The USB DFU flasher the updater runs: Debian's dfu-util (tools/setup.sh installs it), placed in
# the directory of the executables that launch it, in the build tree and once installed.
include_guard(GLOBAL)
include(GNUInstallDirs)

find_program(VQ_DFU_UTIL dfu-util DOC "The dfu-util program shipped next to the updater")
if(NOT VQ_DFU_UTIL)
  message(FATAL_ERROR "dfu-util not found: run tools/setup.sh (Debian package dfu-util), "
                      "or set VQ_DFU_UTIL to the program's path")
endif()

# The internal program directory: the updater and its flasher side by side; the bin directory
# only holds a link to the updater (the updater finds the flasher beside the link's target).
set(VQ_INSTALL_PROGRAMDIR "lib/vq320-updater" CACHE STRING
    "Directory, relative to the prefix, for the updater executable and its dfu-util")

# Copies dfu-util next to <target>'s executable after every link of it.
function(vq_place_dfu_util target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VQ_DFU_UTIL}
            $<TARGET_FILE_DIR:${target}>/dfu-util
    COMMENT "Placing dfu-util next to ${target}"
    VERBATIM)
endfunction()

# Installs <target> and dfu-util into the program directory and links <bindir>/<target> to it.
function(vq_install_with_dfu_util target)
  install(TARGETS ${target} RUNTIME DESTINATION ${VQ_INSTALL_PROGRAMDIR})
  install(PROGRAMS ${VQ_DFU_UTIL} DESTINATION ${VQ_INSTALL_PROGRAMDIR} RENAME dfu-util)
  # A relative link, so the tree stays valid wherever DESTDIR puts it.
  file(RELATIVE_PATH link_target ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
       ${CMAKE_INSTALL_PREFIX}/${VQ_INSTALL_PROGRAMDIR}/${target})
  install(CODE "
    set(vq_bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(MAKE_DIRECTORY \"\${vq_bindir}\")
    file(REMOVE \"\${vq_bindir}/${target}\")
    file(CREATE_LINK \"${link_target}\" \"\${vq_bindir}/${target}\" SYMBOLIC)
    message(STATUS \"Installing: \${vq_bindir}/${target} -> ${link_target}\")
  ")
endfunction()
