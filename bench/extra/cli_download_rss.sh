#!/usr/bin/env bash
# Peak memory (max RSS) of `korvel-cli download` over a full ring: 32,767 records at protocol 2 from
# the simulated recorder, measured with wait4 by a small launcher (see max_rss.cpp).
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
folder = os.path.join(work, "upload")
os.mkdir(folder)
sim = subprocess.Popen([f"{build}/sim/korvel-sim", "--records", "32767", "--protocol", "2",
                        "--exit-on-stdin-eof"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
try:
    port = sim.stdout.readline().decode().strip()
    start = time.monotonic()
    code = subprocess.run([f"{work}/max_rss", f"{work}/rss", f"{build}/cli/korvel-cli", "download",
                           "--port", port, "--dir", folder], stdout=subprocess.DEVNULL).returncode
    elapsed = time.monotonic() - start
    if code != 0:
        sys.exit(f"korvel-cli download ended with {code}")
    # The record files only: the folder also holds the ledger of downloads.
    names = [n for n in os.listdir(folder) if n.endswith(".txt")]
    lines = sum(open(os.path.join(folder, n), "rb").read().count(b"\n") for n in names)
    if lines != 32767:
        sys.exit(f"the record file holds {lines} lines, not 32767")
finally:
    sim.stdin.close()
    sim.wait()

with open(f"{work}/rss") as f:
    rss_kb = int(f.read())
print(json.dumps({"name": "korvel-cli download, full ring (32,767 records, protocol 2): max RSS",
                  "value": round(rss_kb / 1024, 2), "unit": "MB", "goal": "<= 10 MB"}))
print(json.dumps({"name": "korvel-cli download, full ring (32,767 records, protocol 2): wall time",
                  "value": round(elapsed, 3), "unit": "s", "goal": ""}))
PY
