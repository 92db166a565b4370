# Debian's hardening flags, as dpkg-buildflags gives them with every hardening feature on: format
# checks, fortified C library calls, the strong stack protector, read-only relocations bound at
# start (relro, now); PIE is the compiler's own default. The release preset switches them on;
# optimisation and debug information stay the build type's.
include_guard(GLOBAL)

option(VQ_DEBIAN_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" OFF)
if(NOT VQ_DEBIAN_HARDENING)
  return()
endif()

find_program(VQ_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${VQ_DPKG_BUILDFLAGS} --get ${kind}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE vq_flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(vq_flags UNIX_COMMAND "${vq_flags}")
  list(FILTER vq_flags EXCLUDE REGEX "^-(g|O.*)$")
  set(vq_${kind} ${vq_flags})
endforeach()

# _FORTIFY_SOURCE needs the optimiser; without it glibc's warning would fail a -Werror build.
add_compile_options(${vq_CXXFLAGS} "$<$<NOT:$<CONFIG:Debug>>:${vq_CPPFLAGS}>")
add_link_options(${vq_LDFLAGS})
list(JOIN vq_CPPFLAGS " " vq_cpp)
list(JOIN vq_CXXFLAGS " " vq_cxx)
list(JOIN vq_LDFLAGS " " vq_ld)
message(STATUS "Debian hardening flags: ${vq_cpp} ${vq_cxx} ${vq_ld}")
