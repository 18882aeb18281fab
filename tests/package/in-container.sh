#!/bin/bash
# Runs inside the fresh Debian 12 container of scripts/package-test, as root, with systemd as PID 1:
# installs the package given, lets its timer collect from a simulated recorder, reads the records as an
# operator of the group korvel and as somebody else, then removes and purges the package.
set -euo pipefail
deb=$1
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
check() { # check DESCRIPTION COMMAND...: the command must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
equal() { # equal DESCRIPTION ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then echo "ok: $1 ($2)"; else fail "$1: $2, expected $3"; fi
}
contains() { # contains DESCRIPTION TEXT PART
  if [[ "$2" == *"$3"* ]]; then echo "ok: $1"; else fail "$1: \"$3\" not in: $2"; fi
}
# Units of the package that are loaded and not inactive: none may be left after a removal.
active_units() { systemctl list-units --all --plain --no-legend 'korvel-download@*' | awk '$3 != "inactive" {print $1}'; }
dangling_links() { find /etc/systemd /run/systemd/system -xtype l 2>/dev/null || true; }
# Read-only: a writing sqlite3 would delete the -wal and -shm files that the group's readers need.
records_in_db() { sqlite3 -readonly /var/lib/korvel/korvel.sqlite 'SELECT count(*) FROM records'; }
as_user() { runuser -u "$1" -- "${@:2}"; }

export DEBIAN_FRONTEND=noninteractive
dangling_before=$(dangling_links)
apt-get update -qq
apt-get install -y -qq --no-install-recommends "$deb" >/tmp/apt.log 2>&1 || {
  tail -n 30 /tmp/apt.log >&2
  exit 1
}

echo "-- installed"
check "the system user korvel exists" getent passwd korvel >/dev/null
equal "/var/lib/korvel" "$(stat -c '%U:%G %a' /var/lib/korvel)" "korvel:korvel 750"
equal "/var/lib/korvel/upload" "$(stat -c '%U:%G %a' /var/lib/korvel/upload)" "korvel:korvel 750"
check "the man pages are compressed" test -f /usr/share/man/man1/korvel-sim.1.gz
equal "korvel-cli --version" "$(korvel-cli --version)" "korvel-cli $(dpkg-query -W -f='${Version}' korvel)"

# The recorder: korvel-sim from the package on a pseudo-terminal whose link the instance names, with a
# control channel to add records; the port belongs to the group dialout, as a real one.
systemd-run -q --unit=recorder /usr/bin/korvel-sim --link /dev/ttySIM0 --records 500 --product 4711 \
  --control /run/recorder.ctl
for _ in $(seq 100); do [ -e /dev/ttySIM0 ] && [ -p /run/recorder.ctl ] && break; sleep 0.1; done
pty=$(readlink -f /dev/ttySIM0)
chgrp dialout "$pty"
chmod 0660 "$pty"

echo "-- the timer"
systemctl enable --now korvel-download@ttySIM0.timer
check "the timer is active" systemctl is-active --quiet korvel-download@ttySIM0.timer
equal "the timer starts" "$(systemctl show -P Triggers korvel-download@ttySIM0.timer)" "korvel-download@ttySIM0.service"
# What the timer starts, now rather than at its hour.
check "the first run succeeds" systemctl start korvel-download@ttySIM0.service
equal "record files after the first run" "$(find /var/lib/korvel/upload -name '*-4711-*.txt' | wc -l)" 1
equal "rows in the SQLite file" "$(records_in_db)" 500
file=$(find /var/lib/korvel/upload -name '*-4711-*.txt')
equal "the record file" "$(stat -c '%U:%G %a' "$file")" "korvel:korvel 640"
equal "the SQLite file" "$(stat -c '%U:%G %a' /var/lib/korvel/korvel.sqlite)" "korvel:korvel 640"

echo "add 7" >/run/recorder.ctl
# The device answers on its standard output, which is the journal of recorder.service.
for _ in $(seq 100); do
  journalctl -q -u recorder.service -o cat | grep -q '^ok add 7' && break
  sleep 0.1
done
check "the second run succeeds" systemctl start korvel-download@ttySIM0.service
equal "record files after the second run" "$(find /var/lib/korvel/upload -name '*-4711-*.txt' | wc -l)" 2
equal "rows after the second run" "$(records_in_db)" 507
second=$(find /var/lib/korvel/upload -name '*-4711-*.txt' ! -path "$file")
# Incremental: the new records and the one the last download ended with.
equal "lines of the second file" "$(wc -l <"$second")" 8
journal=$(journalctl -q -u korvel-download@ttySIM0.service --no-pager -o cat)
contains "the journal holds the download's result" "$journal" "$second"

echo "-- who may read"
useradd -m -G korvel kreader
useradd -m kvisitor
set +e
out=$(as_user kreader korvel-cli archive --dir /var/lib/korvel/upload 2>&1)
code=$?
set -e
equal "archive as a member of korvel exits" "$code" 0
contains "archive lists the recorder" "$out" "4711"
set +e
out=$(as_user kreader korvel-cli fleet --db /var/lib/korvel/korvel.sqlite 2>&1)
code=$?
set -e
equal "fleet as a member of korvel exits" "$code" 0
contains "fleet lists the recorder" "$out" "4711"
set +e
out=$(as_user kvisitor korvel-cli archive --dir /var/lib/korvel/upload 2>&1)
code=$?
set -e
equal "archive as a non-member exits" "$code" 2
contains "archive tells a non-member" "$out" "permission denied"
set +e
out=$(as_user kvisitor korvel-cli fleet --db /var/lib/korvel/korvel.sqlite 2>&1)
code=$?
set -e
equal "fleet as a non-member exits" "$code" 4
contains "fleet tells a non-member" "$out" "permission denied"

echo "-- the PostgreSQL password from a root-only file"
install -d -m 0700 /etc/korvel
install -m 0600 /dev/null /etc/korvel/pgpass
echo 'dbhost:5432:korvel:korvel:Secret-of-the-site' >/etc/korvel/pgpass
mkdir -p /etc/systemd/system/korvel-download@ttySIM0.service.d
cat >/etc/systemd/system/korvel-download@ttySIM0.service.d/database.conf <<'EOF'
[Service]
Environment=KORVEL_DB=sqlite:/var/lib/korvel/korvel.sqlite
LoadCredential=pgpass:/etc/korvel/pgpass
Environment=PGPASSFILE=%d/pgpass
ExecStartPre=/bin/sh -c 'grep -q "^dbhost:5432:korvel:korvel:" "$PGPASSFILE"'
EOF
systemctl daemon-reload
check "the run reads the password as korvel" systemctl start korvel-download@ttySIM0.service
shown=$(systemctl show korvel-download@ttySIM0.service)
if [[ "$shown" == *Secret-of-the-site* ]]; then fail "systemctl show prints the password"; else echo "ok: systemctl show prints no password"; fi
if as_user kvisitor cat /etc/korvel/pgpass >/dev/null 2>&1; then fail "a user reads the password file"; fi
rm -r /etc/systemd/system/korvel-download@ttySIM0.service.d /etc/korvel/pgpass
systemctl daemon-reload

kept=$(find /var/lib/korvel/upload -name '*-4711-*.txt' | wc -l)
echo "-- removed"
dpkg -r korvel >/tmp/dpkg.log 2>&1 || {
  cat /tmp/dpkg.log >&2
  exit 1
}
equal "units still running after dpkg -r" "$(active_units)" ""
equal "dangling links after dpkg -r" "$(dangling_links)" "$dangling_before"
equal "record files kept by dpkg -r" "$(find /var/lib/korvel/upload -name '*-4711-*.txt' | wc -l)" "$kept"
equal "failed units after dpkg -r" "$(systemctl list-units --failed --plain --no-legend 'korvel*')" ""

echo "-- installed again"
apt-get install -y -qq --no-install-recommends "$deb" >/tmp/apt.log 2>&1 || {
  tail -n 30 /tmp/apt.log >&2
  exit 1
}
check "the timer enabled before the removal is active again" systemctl is-active --quiet korvel-download@ttySIM0.timer
check "and enabled" systemctl is-enabled --quiet korvel-download@ttySIM0.timer

echo "-- purged"
dpkg -P korvel >/tmp/dpkg.log 2>&1 || {
  cat /tmp/dpkg.log >&2
  exit 1
}
equal "units still running after dpkg -P" "$(active_units)" ""
equal "dangling links after dpkg -P" "$(dangling_links)" "$dangling_before"
check "/etc/korvel is gone" test ! -e /etc/korvel
equal "record files kept by dpkg -P" "$(find /var/lib/korvel/upload -name '*-4711-*.txt' | wc -l)" "$kept"

systemctl stop recorder.service || true
if [ "$failures" -gt 0 ]; then
  echo "package test in the container: $failures check(s) failed" >&2
  exit 1
fi
echo "package test in the container: every check passed"
