#!/usr/bin/env bash
# Peak memory (max RSS) of korvel-cli against a device that never ends its reply (korvel-sim
# --endless-reply): to the information request, and to the record requests of a download. Each run
# must give up with exit status 1; memory must stay flat however long the device talks.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${KORVEL_BUILD_DIR:?KORVEL_BUILD_DIR names the build folder}
cmake --build "$build" --target korvel-cli korvel-sim >&2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++20 -o "$work/max_rss" "$here/max_rss.cpp"
python3 - "$build" "$work" <<'PY'
import json
import os
import subprocess
import sys
import time

build, work = sys.argv[1], sys.argv[2]
runs = [
    ("info", ["--endless-reply"], ["info"]),
    ("download", ["--endless-reply", "--endless-after", "1"], ["download", "--dir", work]),
]
for what, sim_args, cli_args in runs:
    sim = subprocess.Popen([f"{build}/sim/korvel-sim", "--records", "3000", "--exit-on-stdin-eof", *sim_args],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        port = sim.stdout.readline().decode().strip()
        start = time.monotonic()
        code = subprocess.run([f"{work}/max_rss", f"{work}/rss", f"{build}/cli/korvel-cli", *cli_args,
                               "--port", port], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=600).returncode
        elapsed = time.monotonic() - start
        if code != 1:
            sys.exit(f"korvel-cli {what} against an endless reply ended with {code}, not 1")
    finally:
        sim.stdin.close()
        sim.wait()
    with open(f"{work}/rss") as f:
        rss_kb = int(f.read())
    name = f"korvel-cli {what}, device that never ends its reply"
    print(json.dumps({"name": f"{name}: max RSS", "value": round(rss_kb / 1024, 2), "unit": "MB",
                      "goal": "<= 10 MB"}))
    print(json.dumps({"name": f"{name}: time to give up", "value": round(elapsed, 3), "unit": "s",
                      "goal": ""}))
PY
