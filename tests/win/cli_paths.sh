#!/bin/bash
# SPDX-License-Identifier: MIT
# korvel-cli.exe under Wine as a Chinese user meets it: the profile folder, --dir, --output and %TEMP%
# are named in Chinese; archive, export, report and verify must find and write them. CSV and JSON on
# standard output carry each line end once. An installed program (its folder read-only) saves into
# the profile's hollin.data\upload, which it creates.
#
#   tests/win/cli_paths.sh KORVEL-CLI.EXE LINUX-KORVEL-CLI LINUX-KORVEL-SIM
set -euo pipefail
exe=$1 linux_cli=$2 sim=$3
here=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$here/scripts/wine-run
work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-paths.XXXXXX")
sim_pid=""
cleanup() {
  [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

profile=$work/张三
upload=$profile/hollin.data/upload
temp=$work/临时
mkdir -p "$upload" "$temp" "$work/导出"

# The records: a Linux download from the simulator into the Chinese upload folder.
"$sim" --link "$work/sim.tty" --records 40 --product 0123 --clock "2024-03-05 07:08:09" >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [[ -e "$work/sim.tty" ]] && break; sleep 0.05; done
"$linux_cli" download --port "$work/sim.tty" --dir "$upload" >/dev/null 2>&1 || fail "the Linux download"
kill "$sim_pid"; sim_pid=""

# korvel-cli.exe with this user's environment; stdout to $work/out, stderr to $work/err, status returned.
run() {
  local program=$1; shift
  local line="set USERPROFILE=$(winpath "$profile")&& set TEMP=$(winpath "$temp")&& set TMP=$(winpath "$temp")&& $program"
  local a
  for a in "$@"; do line+=" $a"; done
  set +e
  "$wine_run" cmd /c "$line" >"$work/out" 2>"$work/err"
  local status=$?
  set -e
  return $status
}
expect() { # expect STATUS WHAT ARGS...
  local want=$1 what=$2; shift 2
  local status=0
  run "$(winpath "$exe")" "$@" || status=$?
  [[ $status -eq $want ]] || fail "$what: exit $status, not $want: $(tr -d '\r' <"$work/out" "$work/err" | tail -5)"
}

expect 0 "archive of the profile's upload folder" archive
grep -q "records: 40" "$work/out" || fail "archive: $(cat "$work/out")"
echo "ok: archive finds %USERPROFILE%\\hollin.data\\upload under a Chinese name"

expect 0 "archive --dir" archive --dir "$(winpath "$upload")" --json
python3 -c 'import json,sys; d=json.load(open(sys.argv[1],"rb")); assert d["devices"][0]["records"]==40, d' "$work/out" ||
  fail "archive --json: $(head -c 300 "$work/out")"
if grep -q $'\r' "$work/out"; then fail "archive --json: CR in the JSON on standard output"; fi

expect 0 "export to standard output" export --product 123 --dir "$(winpath "$upload")"
python3 - "$work/out" <<'PY' || fail "export: the CSV on standard output is not 41 rows each ending in one CR LF"
import sys
data = open(sys.argv[1], "rb").read()
rows = data.split(b"\r\n")
assert rows[-1] == b"" and len(rows) == 42, len(rows)
assert all(b"\r" not in r and b"\n" not in r for r in rows), "a stray line end"
assert rows[0] == b"time,value,product,file"
PY
echo "ok: CSV on standard output: each row ends in CR LF once"

expect 0 "export --output" export --product 123 --dir "$(winpath "$upload")" --format json --output "$(winpath "$work/导出/记录.json")"
python3 -c 'import json,sys; assert len(json.load(open(sys.argv[1], encoding="utf-8")))==40' "$work/导出/记录.json" ||
  fail "export --output: $(ls "$work/导出")"
grep -q "记录.json" "$work/out" || fail "export --output printed $(cat "$work/out")"
echo "ok: export --output to a Chinese file name"

expect 7 "report --open" report --product 123 --dir "$(winpath "$upload")" --open  # Wine has no browser
# The page goes into a private folder of its own in %TEMP%.
pages=("$temp"/korvel-report-*/korvel-report-123.html)
[[ -s "${pages[0]}" ]] || fail "report --open: nothing in %TEMP%: $(ls -R "$temp")"
grep -q "临时" "$work/out" || fail "report --open printed $(cat "$work/out")"
echo "ok: report --open writes into a Chinese %TEMP%"

expect 0 "verify" verify "$(winpath "$upload")"
grep -q "1 file, 40 lines checked: no problems" "$work/out" || fail "verify: $(cat "$work/out")"
file=("$upload"/*.txt)
sed -i '3s/^2/3/' "${file[0]}"
expect 5 "verify of a damaged file" verify "$(winpath "${file[0]}")"
grep -q ":3: checksum mismatch" "$work/out" || fail "verify: $(cat "$work/out")"
echo "ok: verify of a Chinese folder and file"

# On a terminal Wine gives the program a console: the text goes out through WriteConsoleW and must
# reach the terminal as the same Chinese name.
if command -v script >/dev/null; then
  script -qec "'$wine_run' '$exe' verify '$(winpath "$work/无.txt")'" /dev/null >"$work/console" 2>&1 || true
  # Wine's console draws with escape sequences (and may move the cursor for a space): only the name is compared.
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/console" | grep -q "无\.txt" || fail "the console shows: $(od -c "$work/console" | head)"
  echo "ok: Chinese text through the console"
fi

# An installed program: its folder takes no file, and the profile has no upload folder yet.
fresh=$work/李四
program=$work/程序
mkdir -p "$fresh" "$program"
cp "$exe" "$program/korvel-cli.exe"
profile=$fresh
set +e
unshare -m --propagation private bash -c '
  mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" || exit 99
  shift; "$@"' _ "$program" bash -c "$(declare -f run winpath); wine_run='$wine_run' work='$work' profile='$profile' temp='$temp'; run '$(winpath "$program/korvel-cli.exe")' archive"
status=$?
set -e
[[ $status -ne 99 ]] || { echo "skipped: no read-only bind mount here"; exit 0; }
[[ -d "$fresh/hollin.data/upload" ]] || fail "a read-only program folder: no upload folder made in the profile: $(tr -d '\r' <"$work/err")"
grep -q "李四.hollin.data.upload" "$work/err" || fail "the fresh install looked in: $(tr -d '\r' <"$work/err")"
echo "ok: an installed program makes and takes %USERPROFILE%\\hollin.data\\upload"
