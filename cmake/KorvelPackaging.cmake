# SPDX-License-Identifier: MIT
# One Debian package with the window, the command line and the simulated recorder.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "korvel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "korvel maintainers <korvel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Reads a winch running-speed recorder over a serial port")
set(CPACK_PACKAGE_DESCRIPTION
    "korvel shows a winch speed recorder's information, sets its clock and downloads its records\nincrementally into checksummed text files. korvel-cli does the same from scripts, and\nkorvel-sim plays the recorder on a pseudo-terminal.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "/usr")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "amd64")
# The Debian packages the programs load; the CJK font draws the window's Chinese texts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libudev1, libsqlite3-0 (>= 3.35), libpq5, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), qt6-qpa-plugins, fonts-wqy-microhei")
# Scheduled collection: a daily timer per serial port (korvel-download@ttyUSB0.timer) that downloads and
# then loads the records into the database.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/korvel-download@.service
              ${PROJECT_SOURCE_DIR}/packaging/systemd/korvel-download@.timer
        DESTINATION lib/systemd/system)
include(CPack)
