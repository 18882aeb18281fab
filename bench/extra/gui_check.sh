#!/usr/bin/env bash
# The window's "检查记录…" on an upload folder of 10,000 files of 1,000 lines (10 devices), as
# archive_fixture.cpp writes them: the time until the text shows, and the longest the window went without
# answering meanwhile (warm: the files were just written and read once). KORVEL_BENCH_BRIEF=1: 100 files.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KORVEL_BUILD_DIR:?}
cmake --build "$build" --target korvel_gui_bench >&2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/hollin.data/upload" "$home/config"
c++ -O2 -std=c++20 -I"$root/src" -o "$home/fixture" "$here/archive_fixture.cpp" "$root/src/protocol/crc16.cpp"
files=10000
[ "${KORVEL_BENCH_BRIEF:-0}" = 1 ] && files=100
"$home/fixture" "$home/hollin.data/upload" "$files" 1000 10
cat "$home/hollin.data/upload"/* > /dev/null
HOME="$home" XDG_CONFIG_HOME="$home/config" QT_QPA_PLATFORM=offscreen "$build/gui/korvel_gui_bench" --check "$files"
