#!/usr/bin/env bash
# The window: start-up time to the first tick and resident memory after a full-ring download in the demo.
set -euo pipefail
build=${KORVEL_BUILD_DIR:?}
cmake --build "$build" --target korvel_gui_bench korvel-sim >&2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/hollin.data/upload" "$home/config"
HOME="$home" XDG_CONFIG_HOME="$home/config" QT_QPA_PLATFORM=offscreen "$build/gui/korvel_gui_bench"
