#!/bin/bash
# SPDX-License-Identifier: MIT
# The native window under Wine on a virtual display (Xvfb), with COM5 on korvel-sim.
#   tests/win/window_test.sh WINDOW_TEST.EXE LINUX-KORVEL-SIM SCREENSHOT.png
# Writes SCREENSHOT.png and, beside it, SCREENSHOT-menu.png (the open system menu).
set -euo pipefail
exe=$1 sim=$2 png=$3
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-window.XXXXXX")
sim_pid=""
cleanup() {
  [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

records=3000
"$sim" --records $records --product 4711 --link "$work/sim.tty" --log "$work/sim.log" --clock "2024-03-05 07:08:09" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [[ -e "$work/sim.tty" ]] && break; sleep 0.05; done

export KORVEL_WINE_REG=$here/tests/win/window.reg
xvfb-run -a -s "-screen 0 1024x768x24" \
  "$here/scripts/wine-run" --x11 --com "5=$work/sim.tty" "$exe" 4711 $records "Z:$work/shot.bmp" "Z:$work/menu.bmp" "Z:$work/sim.log" | sed -u 's/\r//g' | tee "$work/out"
grep -q '^0 failures$' "$work/out"
python3 "$here/scripts/bmp-to-png" "$work/shot.bmp" "$png"
python3 "$here/scripts/bmp-to-png" "$work/menu.bmp" "${png%.png}-menu.png"
echo "screenshots: $png ${png%.png}-menu.png"
