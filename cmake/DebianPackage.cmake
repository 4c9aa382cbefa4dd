# `cpack -G DEB` in the build folder makes tessaloquin-audio-capture_VERSION_ARCH.deb. Its Depends
# field is dpkg-shlibdeps' reading of the binaries plus the packages of the GStreamer plugins the
# tool loads at run time, which scripts/gstreamer-packages finds when cpack runs.
set(CPACK_PACKAGE_NAME tessaloquin-audio-capture)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessaloquin maintainers <maintainers@users.noreply.c-seed-08644352.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Either server gives the tool its sound; PipeWire through its pulse server.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "record the system audio and a microphone into one movie, for a parent program")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tessaloquin-audio-capture records the sound of the default output, and
optionally one microphone, from PulseAudio or PipeWire into one QuickTime
movie. A parent program starts it, reads one JSON record per line from its
standard output (ready, a level every second, final) and stops it with
SIGINT.")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/DebianPackageDepends.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "
if(CPACK_GENERATOR STREQUAL \"DEB\")
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/gstreamer-packages
                  OUTPUT_VARIABLE plugins OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR \"scripts/gstreamer-packages failed: the plugins' packages are unknown\")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS \"\${plugins}\")
endif()
")

# What lintian asks of every package that CPack does not add itself.
set(debianChangelog ${PROJECT_BINARY_DIR}/packaging/changelog)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${debianChangelog} @ONLY)
add_custom_command(OUTPUT ${debianChangelog}.gz
  COMMAND gzip -9 -n -c ${debianChangelog} > ${debianChangelog}.gz
  DEPENDS ${debianChangelog})
add_custom_target(debian_changelog ALL DEPENDS ${debianChangelog}.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${debianChangelog}.gz
        DESTINATION ${TESSALOQUIN_DOCDIR})

include(CPack)
