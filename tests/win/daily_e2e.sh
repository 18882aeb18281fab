#!/bin/bash
# SPDX-License-Identifier: MIT
# The daily collection under Wine, as far as Wine runs it: the hidden launcher (korvel.exe --daily COM5,
# what the scheduled task starts) downloads from the Linux korvel-sim through a Wine COM port into the
# upload folder of the operator's profile (a Chinese name), byte for byte what the Linux korvel-cli
# writes, incrementally the second time, and leaves each run's result in korvel-daily.log there; a run
# that fails says so there and in its exit code. Then korvel-cli daily registers the task with Wine's
# Task Scheduler, whose stored definition is read back, and removes it again. Each download is recorded
# in the folder's ledger, which both builds prove.
#
#   tests/win/daily_e2e.sh KORVEL.EXE KORVEL-CLI.EXE LINUX-KORVEL-CLI LINUX-KORVEL-SIM
set -euo pipefail
exe=$1 cli=$2 linux_cli=$3 sim=$4
here=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$here/scripts/wine-run
work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-daily.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

# The two programs side by side, as the installer and the zip put them.
mkdir -p "$work/korvel"
cp "$exe" "$cli" "$work/korvel/"
exe=$work/korvel/$(basename "$exe") cli=$work/korvel/$(basename "$cli")

profile=$work/操作员
upload=$profile/hollin.data/upload
log=$upload/korvel-daily.log
mkdir -p "$upload" "$work/linux"

start_sim() { # start_sim NAME: 40 records of device 0123; its control channel is $work/NAME.ctl
  mkfifo "$work/$1.ctl"
  "$sim" --link "$work/$1.tty" --control "$work/$1.ctl" --records 40 --product 0123 \
    --clock "2024-03-05 07:08:09" >"$work/$1.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [[ -e "$work/$1.tty" ]] && return; sleep 0.05; done
  fail "korvel-sim $1 did not start: $(cat "$work/$1.out")"
}
start_sim win
start_sim lin

# A Windows command line run as the operator: this profile, COM5 on the Windows side's simulator.
as_operator() {
  set +e
  "$wine_run" --com "5=$work/win.tty" cmd /c "set USERPROFILE=$(winpath "$profile")&& $*" >"$work/out" 2>&1
  local status=$?
  set -e
  return $status
}
daily() { as_operator "start \"\" /wait $(winpath "$exe") --daily $*"; }
log_lines() { tr -d '\r' <"$log" | sed '1s/^\xEF\xBB\xBF//'; }

for round in full incremental; do
  if [[ $round == incremental ]]; then
    echo "add 7" >"$work/win.ctl"
    echo "add 7" >"$work/lin.ctl"
  fi
  status=0
  daily COM5 || status=$?
  [[ $status -eq 0 ]] || fail "$round: korvel.exe --daily ended with $status: $(cat "$work/out"; cat "$log" 2>/dev/null)"
  "$linux_cli" download --port "$work/lin.tty" --dir "$work/linux" >/dev/null 2>&1 || fail "the Linux download, $round"
  windows_files=("$upload"/*-123-7b.txt)
  linux_files=("$work/linux"/*-123-7b.txt)
  [[ ${#windows_files[@]} -eq ${#linux_files[@]} ]] || fail "$round: ${#windows_files[@]} files, not ${#linux_files[@]}"
  newest_windows=$(ls -t "$upload"/*-123-7b.txt | head -1)
  newest_linux=$(ls -t "$work/linux"/*-123-7b.txt | head -1)
  cmp "$newest_windows" "$newest_linux" || fail "$round: the file differs from the Linux korvel-cli's"
  [[ -z "$(cat "$work/out")" ]] || fail "$round: korvel.exe wrote to its caller: $(cat "$work/out")"
  echo "ok: $round download into the operator's folder, $(wc -l <"$newest_windows") records, as on Linux"
done

# The ledger: both runs recorded in the operator's folder (a Chinese path) by korvel-cli.exe, each entry
# carrying the SHA-256 that sha256sum gives the file, and read alike by the Windows and the Linux build.
ledger=$upload/korvel.ledger
[[ -f "$ledger" ]] || fail "no ledger in the operator's folder: $(ls "$upload")"
[[ $(head -1 "$ledger" | cut -f1) == "korvel ledger 1" ]] || fail "the ledger's first line: $(head -1 "$ledger")"
[[ $(tail -n +2 "$ledger" | wc -l) -eq 2 ]] || fail "two downloads, not two entries: $(cat "$ledger")"
while IFS=$'\t' read -r sequence kind _ _ _ product file size sha _; do
  [[ $kind == downloaded && $product == 123 ]] || fail "entry $sequence: $kind, product $product"
  [[ $(stat -c %s "$upload/$file") == "$size" ]] || fail "entry $sequence: size $size of $file"
  [[ $(sha256sum "$upload/$file" | cut -d' ' -f1) == "$sha" ]] || fail "entry $sequence: the SHA-256 of $file"
done < <(tail -n +2 "$ledger")
"$linux_cli" verify --ledger "$upload" >"$work/verify" || fail "the Linux verify --ledger: $(cat "$work/verify")"
status=0
as_operator "$(winpath "$cli") verify --ledger $(winpath "$upload")" || status=$?
[[ $status -eq 0 ]] || fail "korvel-cli.exe verify --ledger: exit $status: $(tr -d '\r' <"$work/out")"
tr -d '\r' <"$work/out" | grep -q "^verdict: all proven (2 files), chain intact$" || fail "verify --ledger: $(cat "$work/out")"
echo "ok: both downloads recorded in the ledger under a Chinese path, proven by both builds"

# The Start-menu shortcut "korvel 运行记录报告": korvel.exe --overview writes the overview of the operator's
# upload folder into the user's pages folder in %TEMP% (korvel-pages) and hands it to the opener (here attrib.exe, which only
# looks at it), without a window.
mkdir -p "$work/temp"
status=0
as_operator "set TEMP=$(winpath "$work/temp")&& set TMP=$(winpath "$work/temp")&& set KORVEL_OPEN_WITH=C:\\windows\\system32\\attrib.exe&& start \"\" /wait $(winpath "$exe") --overview" ||
  status=$?
[[ $status -eq 0 ]] || fail "korvel.exe --overview: exit $status: $(cat "$work/out")"
pages=("$work"/temp/korvel-pages/korvel-report*.html)
[[ ${#pages[@]} -eq 1 && -f "${pages[0]}" ]] || fail "korvel.exe --overview wrote: $(find "$work/temp")"
grep -q '<table id="overview">' "${pages[0]}" && grep -q "<h2>产品编号 0123</h2>" "${pages[0]}" ||
  fail "not the overview of device 0123: $(head -c 300 "${pages[0]}")"
echo "ok: korvel.exe --overview writes the overview of the operator's folder and hands it on"

[[ "$(head -c 3 "$log")" == $'\xEF\xBB\xBF' ]] || fail "the log does not begin with a byte-order mark"
[[ $(log_lines | grep -c "每日下载开始：端口 COM5，记录文件夹 Z:.*操作员.hollin.data.upload$") -eq 2 ]] ||
  fail "two runs, two start lines: $(log_lines)"
[[ $(log_lines | grep -c "每日下载完成$") -eq 2 ]] || fail "two runs, two done lines: $(log_lines)"
log_lines | grep -q -- "-123-7b.txt$" || fail "korvel-cli's output (the file's path) is not in the log: $(log_lines)"
echo "ok: korvel-daily.log holds both runs"

# A recorder that is not there: exit code 3, the reason and the failure as the log's last lines.
status=0
daily COM9 || status=$?
[[ $status -eq 3 ]] || fail "an absent port: exit $status, not 3: $(log_lines | tail -3)"
log_lines | tail -2 | head -1 | grep -q "absent" || fail "an absent port: the reason is missing: $(log_lines | tail -3)"
log_lines | tail -1 | grep -q "每日下载未完成（退出码 3），原因见上一行$" || fail "an absent port: $(log_lines | tail -1)"
# Anything but a COM port name is refused before korvel-cli is started (the name goes into its command line).
status=0
daily 'COM5 --dir C:\' || status=$?
[[ $status -eq 2 ]] || fail "a name that is no COM port: exit $status, not 2"
log_lines | tail -1 | grep -q "不是 COM 端口名" || fail "a name that is no COM port: $(log_lines | tail -1)"
echo "ok: failed runs say why in the log and in their exit code"

# The task, registered with Wine's Task Scheduler by korvel-cli for the user of this session, read back as
# Wine stored it, then removed: in one Wine session, since each run has a prefix of its own.
# The edition from the program's machine field: each edition has a task of its own.
edition=$(python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read(4096)
print("x64" if struct.unpack_from("<H", d, struct.unpack_from("<I", d, 0x3c)[0] + 4)[0] == 0x8664 else "x86")' "$cli")
task="C:\\windows\\system32\\tasks\\korvel daily download ($edition)"
# A batch file: Wine quotes the quotes of a command line given to cmd /c.
cat >"$work/task.bat" <<BAT
@echo off
"$(winpath "$cli")" daily --port COM5
if errorlevel 1 exit /b 1
copy "$task" "$(winpath "$work/task.xml")" > nul
if errorlevel 1 exit /b 2
"$(winpath "$cli")" daily --remove
if errorlevel 1 exit /b 3
if exist "$task" exit /b 4
exit /b 0
BAT
status=0
"$wine_run" cmd /c "$(winpath "$work/task.bat")" >"$work/out" 2>&1 || status=$?
[[ $status -eq 0 ]] || fail "korvel-cli daily, step $status: $(tr -d '\r' <"$work/out")"
# Wine's Task Scheduler parses the whole definition (a fault in it fails the registration) but stores only
# part of it: the registration information and the settings; its triggers, principal and action it leaves
# out (the unit test checks those fields of the definition itself).
python3 - "$work/task.xml" <<'PY' || fail "the stored task: $(iconv -f UTF-16 -t UTF-8 "$work/task.xml" 2>/dev/null || cat "$work/task.xml")"
import sys, xml.etree.ElementTree as ET
raw = open(sys.argv[1], "rb").read()
text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8-sig")
ns = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
root = ET.fromstring(text.replace('encoding="UTF-16"', ""))
def field(path):
    node = root.find(path, ns)
    assert node is not None, path
    return (node.text or "").strip()
checks = {
    "t:RegistrationInfo/t:Author": "korvel",
    "t:Settings/t:StartWhenAvailable": "true",
    "t:Settings/t:DisallowStartIfOnBatteries": "false",
    "t:Settings/t:StopIfGoingOnBatteries": "false",
    "t:Settings/t:MultipleInstancesPolicy": "IgnoreNew",
    "t:Settings/t:ExecutionTimeLimit": "PT1H",
    "t:Settings/t:Enabled": "true",
}
for path, want in checks.items():
    got = field(path)
    assert got == want, f"{path}: {got!r}, not {want!r}"
description = field("t:RegistrationInfo/t:Description")
for part in ("12:00", "COM5", "korvel-daily.log"):
    assert part in description, f"{part} not in {description!r}"
PY
echo "ok: korvel-cli daily registers the task with Wine's Task Scheduler, which keeps its settings, and removes it"
