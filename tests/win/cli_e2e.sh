#!/bin/bash
# SPDX-License-Identifier: MIT
# korvel-cli.exe under Wine against the Linux korvel-sim through a Wine COM port: information, then a
# full and an incremental download at protocol 1 and 2 with faults on the line. Each file must be byte
# for byte the one the Linux korvel-cli writes from an identical simulated device.
#
#   tests/win/cli_e2e.sh KORVEL-CLI.EXE LINUX-KORVEL-CLI LINUX-KORVEL-SIM
set -euo pipefail
exe=$1 linux_cli=$2 sim=$3
here=$(cd "$(dirname "$0")/../.." && pwd)
wine_run=$here/scripts/wine-run
work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-e2e.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  [[ -f "$work/stderr" ]] && grep -v "device: " "$work/stderr" | tail -20 >&2
  exit 1
}

# Starts a simulator named $1 with the remaining options; its control channel is $work/$1.ctl.
start_sim() {
  local name=$1; shift
  mkfifo "$work/$name.ctl"
  "$sim" --link "$work/$name.tty" --control "$work/$name.ctl" --clock "2024-03-05 07:08:09" "$@" \
    >"$work/$name.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [[ -e "$work/$name.tty" ]] && return; sleep 0.05; done
  fail "korvel-sim $name did not start: $(cat "$work/$name.out")"
}
control() { echo "$2" >"$work/$1.ctl"; }

# The only file in a folder, moved aside into earlier/ (where the next scan still finds it).
take_file() {
  local dir=$1 files
  files=("$dir"/*.txt)
  [[ ${#files[@]} -eq 1 && -f "${files[0]}" ]] || fail "expected one record file in $dir, found: ${files[*]}"
  mkdir -p "$dir/earlier"
  mv "${files[0]}" "$dir/earlier/"
  echo "$dir/earlier/$(basename "${files[0]}")"
}

win() { # win SIMNAME ARGS... : korvel-cli.exe with COM5 on that simulator
  local name=$1; shift
  # Text written to a Windows console or pipe ends its lines with CR LF.
  "$wine_run" --com "5=$work/$name.tty" "$exe" "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

for protocol in 1 2; do
  faults=(--protocol "$protocol" --records 300 --product 0123 --seed "$((40 + protocol))"
          --corrupt-crc 0.02 --drop-replies 0.01 --messages 0.02)
  start_sim "w$protocol" "${faults[@]}"
  start_sim "l$protocol" "${faults[@]}"

  info=$(win "w$protocol" info --port COM5 --json 2>>"$work/stderr") || fail "protocol $protocol info: $info"
  echo "$info" | grep -q "\"product\":\"0123\"" || fail "protocol $protocol info: $info"
  echo "$info" | grep -q "\"protocol\":$protocol" || fail "protocol $protocol info: $info"
  echo "$info" | grep -q '"records":300' || fail "protocol $protocol info: $info"

  mkdir -p "$work/win$protocol" "$work/lin$protocol"
  for round in full incremental; do
    if [[ $round == incremental ]]; then
      control "w$protocol" "add 37"
      control "l$protocol" "add 37"
    fi
    out=$(win "w$protocol" download --port COM5 --dir "Z:$work/win$protocol" 2>>"$work/stderr") ||
      fail "protocol $protocol $round: $out"
    "$linux_cli" download --port "$work/l$protocol.tty" --dir "$work/lin$protocol" >/dev/null 2>>"$work/stderr" ||
      fail "Linux korvel-cli, protocol $protocol $round"
    # The Windows path of the file is printed last, with backslashes.
    echo "$out" | tail -1 | grep -q '^Z:\\.*\\[0-9]*-[0-9]*-123-7b\.txt$' || fail "protocol $protocol $round path: $out"
    [[ $round == incremental ]] && previous=$(tail -1 "$wf")
    wf=$(take_file "$work/win$protocol")
    lf=$(take_file "$work/lin$protocol")
    # An incremental file starts with the newest record saved before, then the new ones. Records whose
    # checksum keeps failing are skipped, the same ones on both sides (the faults follow the seed).
    lines=$(wc -l <"$wf")
    if [[ $round == full ]]; then
      [[ $lines -ge 290 ]] || fail "protocol $protocol full: only $lines lines"
    else
      [[ $lines -ge 36 ]] || fail "protocol $protocol incremental: only $lines lines"
    fi
    [[ $round == full || "$(head -1 "$wf")" == "$previous" ]] || fail "protocol $protocol: no overlap"
    cmp "$wf" "$lf" || fail "protocol $protocol $round: the Windows file differs from the Linux one"
    echo "protocol $protocol $round: $lines records, identical"
  done
done

# The adapter is unplugged during a download: the reader sees the port vanish, exit code 3, no file.
start_sim gone --records 3000 --hangup-after 5000
mkdir -p "$work/gone"
set +e
out=$(win gone download --port COM5 --dir "Z:$work/gone" 2>&1)
code=$?
set -e
[[ $code -eq 3 ]] || fail "hang-up: exit $code: $out"
echo "$out" | grep -q "port lost" || fail "hang-up: $out"
[[ -z "$(ls "$work/gone")" ]] || fail "hang-up: a file was written"
echo "hang-up during a download: exit 3, no file"

# A port that is not there: exit code 3 and the reason.
set +e
out=$("$wine_run" "$exe" info --port COM9 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")
code=$?
set -e
[[ $code -eq 3 ]] || fail "absent port: exit $code: $out"
echo "$out" | grep -q "absent" || fail "absent port: $out"
echo "absent port: exit 3"
