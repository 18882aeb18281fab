# SPDX-License-Identifier: MIT
# Scheduled collection: a daily timer per serial port (korvel-download@ttyUSB0.timer) that downloads and
# then loads the records into the database, as the system user korvel, into /var/lib/korvel. The Debian
# package (debian/, dpkg-buildpackage) installs the same files and runs them from its maintainer scripts.
set(KORVEL_SYSTEMD_UNIT_DIR "lib/systemd/system"
    CACHE STRING "Where the systemd units go (relative to the prefix, or absolute: /lib/systemd/system on Debian 12)")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/korvel-download@.service
              ${PROJECT_SOURCE_DIR}/packaging/systemd/korvel-download@.timer
        DESTINATION ${KORVEL_SYSTEMD_UNIT_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/korvel.sysusers DESTINATION lib/sysusers.d
        RENAME korvel.conf)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/korvel.tmpfiles DESTINATION lib/tmpfiles.d
        RENAME korvel.conf)
