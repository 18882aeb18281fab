#!/usr/bin/env bash
# korvel-cli verify --ledger over 10,000 files of 1,000 lines (written by archive_fixture.cpp and recorded
# in the folder's ledger), beside sha256sum of the same files in the same run (warm: both read what was
# just written); the ratio of the two is the row with a goal.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KORVEL_BUILD_DIR:?KORVEL_BUILD_DIR names the build folder}
cmake --build "$build" --target korvel-cli >&2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++20 -I"$root/src" -o "$work/fixture" "$here/archive_fixture.cpp" "$root/src/protocol/crc16.cpp"
mkdir "$work/big"
"$work/fixture" "$work/big" 10000 1000 10
"$build/cli/korvel-cli" verify --ledger --adopt "$work/big" >/dev/null
python3 - "$build/cli/korvel-cli" "$work" <<'PY'
import json, os, subprocess, sys, time

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

files = sorted(os.path.join(d, f) for d, _, names in os.walk(f"{work}/big") for f in names if f.endswith(".txt"))
if len(files) != 10000:
    sys.exit(f"{len(files)} files, not 10,000")
with open(f"{work}/files0", "w") as f:
    f.write("\0".join(files))
verify = best([cli, "verify", "--ledger", f"{work}/big"])
sha = best(["/bin/sh", "-c", 'exec xargs -0 sha256sum < "$0" > /dev/null', f"{work}/files0"])
row("verify --ledger of 10,000 files x 1,000 lines (warm)", round(verify, 3), "s")
row("sha256sum of the same 10,000 files (warm)", round(sha, 3), "s")
row("verify --ledger / sha256sum", round(verify / sha, 2), "x", "<= 1.3")
PY
