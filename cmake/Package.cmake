# `make package`: a Debian package built by CPack from the install rules. Its
# library dependencies are computed by dpkg-shlibdeps from the programs
# themselves, so they follow whatever the programs link against; the Qt
# plugins they load at run time are named below.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tempovaro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tempovaro developers")
set(CPACK_PACKAGE_CONTACT "The Tempovaro developers <maintainers@tempovaro.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "speed meter for drummers: counts strokes from audio or MIDI triggers")
set(CPACK_PACKAGE_DESCRIPTION
  "Tempovaro counts a drummer's strokes from a trigger, a pad with a microphone
or any sound card input, or from an electronic drum kit over MIDI, and shows
the count, the strokes per minute or the frequency beside a stopwatch. Results
are kept in score lists per recording time.

Every run also goes into a practice journal with the time of each stroke, and
a run report shows its speed over time, every interval with suspected double
and missed strokes, and figures such as evenness and fatigue. The journal
charts progress over weeks and months and exports runs as CSV.

The package also holds tempovaro-count, which counts the strokes of recordings
on the command line.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tempovaro)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tempovaro.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Plugins are loaded by name at run time, so dpkg-shlibdeps cannot see them,
# and both are only recommended by the Qt libraries: without the SQLite
# driver the journal cannot open, without the platform plugins no window
# can. CPack puts the computed library dependencies after these.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins")
# The ALSA plugins that reach the sound servers are loaded at run time, so no
# library dependency names them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-alsa | libasound2-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jackd2")
include(CPack)
