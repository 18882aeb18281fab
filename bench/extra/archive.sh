#!/usr/bin/env bash
# korvel-cli archive, export and report over folders written by archive_fixture.cpp: the archive of
# 10,000 files of 1,000 lines (warm: the files were just written and read once), the export of a
# million records to CSV, and the report of 100,000 records (its size, and its first drawing in
# headless Chromium without a network, as the page itself measures it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KORVEL_BUILD_DIR:?KORVEL_BUILD_DIR names the build folder}
cmake --build "$build" --target korvel-cli >&2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++20 -I"$root/src" -o "$work/fixture" "$here/archive_fixture.cpp" "$root/src/protocol/crc16.cpp"
mkdir "$work/big" "$work/million" "$work/report"
"$work/fixture" "$work/big" 10000 1000 10
"$work/fixture" "$work/million" 1001 1000 1      # 1001 × 999 new records + 1 = 1,000,000
"$work/fixture" "$work/report" 101 1000 1        # 101 × 999 + 1 = 100,900
python3 - "$build/cli/korvel-cli" "$work" <<'PY'
import json, os, re, shutil, subprocess, sys, time

cli, work = sys.argv[1], sys.argv[2]

def best(args, runs=3):
    subprocess.run(args, stdout=subprocess.DEVNULL, check=False)  # warm
    times = []
    for _ in range(runs):
        start = time.monotonic()
        code = subprocess.run(args, stdout=subprocess.DEVNULL).returncode
        times.append(time.monotonic() - start)
        if code != 0:
            sys.exit(f"{args} ended with {code}")
    return min(times)

def row(name, value, unit, goal=""):
    print(json.dumps({"name": name, "value": value, "unit": unit, "goal": goal}))

row("archive 10,000 files x 1,000 lines (warm)", round(best([cli, "archive", "--dir", f"{work}/big"]), 3), "s", "<= 2 s")
csv = f"{work}/million.csv"
row("export 1,000,000 records to CSV", round(best([cli, "export", "--product", "100", "--dir", f"{work}/million",
                                                 "--output", csv]), 3), "s", "<= 1 s")
with open(csv, "rb") as f:
    lines = sum(1 for _ in f)
if lines != 1_000_001:
    sys.exit(f"the CSV holds {lines} lines, not a header and a million records")
page = f"{work}/report.html"
subprocess.run([cli, "report", "--product", "100", "--dir", f"{work}/report", "--output", page], check=True,
               stdout=subprocess.DEVNULL)
row("report of 100,900 records: page size", round(os.path.getsize(page) / 1e6, 2), "MB")
chromium = shutil.which("chromium")
if chromium:
    out = subprocess.run(["unshare", "-n", chromium, "--headless", "--no-sandbox", "--disable-gpu",
                          "--disable-quic", "--no-first-run", "--disable-background-networking",
                          "--disable-component-update", "--disable-sync", f"--user-data-dir={work}/profile",
                          "--virtual-time-budget=30000", "--dump-dom", f"file://{page}"],
                         capture_output=True, text=True).stdout
    drawn = re.search(r'data-draw-ms="(\d+)"', out)
    points = re.search(r'data-drawn="(\d+)"', out)
    if not drawn or not points or points.group(1) != "100900":
        sys.exit("the report was not drawn with every record")
    row("report of 100,900 records: first drawing in Chromium", int(drawn.group(1)) / 1000, "s", "<= 1 s")
PY
