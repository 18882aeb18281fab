#!/bin/bash
# SPDX-License-Identifier: MIT
# `korvel --overview`, the desktop entry's action: the overview of the user's upload folder written and
# handed to the browser without a window; an upload folder without record files is said with what to
# do, and nothing is opened. The desktop entry runs exactly this command.
#
#   tests/gui/overview_action.sh KORVEL KORVEL-CLI KORVEL-SIM DESKTOP-ENTRY
set -euo pipefail
korvel=$1 cli=$2 sim=$3 entry=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-overview.XXXXXX")
sim_pid=""
cleanup() {
  [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

grep -qx "Actions=overview;" "$entry" || fail "the desktop entry has no overview action"
[[ "$(sed -n '/^\[Desktop Action overview\]/,/^\[/p' "$entry" | grep '^Exec=')" == "Exec=korvel --overview" ]] ||
  fail "the overview action runs something else: $(cat "$entry")"
grep -q "^Name\[zh_CN\]=korvel 运行记录报告$" "$entry" || fail "the action has no Chinese name"

export HOME=$work/home TMPDIR=$work/tmp KORVEL_OPEN_WITH=$work/opener QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME/hollin.data/upload" "$TMPDIR"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' "$work/opened" >"$work/opener"
chmod +x "$work/opener"

# A folder without record files: the sentence and what to do, nothing opened.
status=0
"$korvel" --overview 2>"$work/err" || status=$?
[[ $status -eq 1 ]] || fail "no record files: exit $status, not 1"
grep -q "记录文件夹中没有记录文件：$HOME/hollin.data/upload。请先用“读数据”下载记录。" "$work/err" ||
  fail "no record files: $(cat "$work/err")"
[[ ! -e "$work/opened" ]] || fail "no record files, yet something was opened: $(cat "$work/opened")"

# Two devices' records in the upload folder: one page with both, opened.
for product in 0123 4567; do
  "$sim" --link "$work/sim.tty" --records 30 --product "$product" --clock "2024-03-05 07:08:09" >/dev/null 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [[ -e "$work/sim.tty" ]] && break; sleep 0.05; done
  "$cli" download --port "$work/sim.tty" >/dev/null 2>&1 || fail "the download of $product"
  kill "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
done
"$korvel" --overview 2>"$work/err" || fail "korvel --overview: exit $?: $(cat "$work/err")"
[[ $(wc -l <"$work/opened") -eq 1 ]] || fail "opened: $(cat "$work/opened")"
page=$(cat "$work/opened")
# Pages go to the user's one pages folder, which keeps the newest few.
[[ "$page" == "$TMPDIR"/korvel-pages-"$(id -u)"/korvel-report*.html && -f "$page" ]] || fail "the page: $page"
grep -q '<table id="overview">' "$page" || fail "not an overview: $(head -c 300 "$page")"
for product in 0123 4567; do
  grep -q "<h2>产品编号 $product</h2>" "$page" || fail "the overview lacks device $product"
done
echo "ok: korvel --overview writes and opens the overview of both devices"
