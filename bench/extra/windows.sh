#!/usr/bin/env bash
# The Windows programs under Wine (build them with scripts/windows first):
#  - a full ring (32,767 records, protocol 2) downloaded by korvel-cli.exe (x64, and x86 when built) from
#    korvel-sim paced at 115200 bit/s, as wall time over the wire-time bound (bytes both ways at
#    11,520 bytes/s);
#  - the silent install (/S) of each installer into a fresh prefix;
#  - the size of each .exe and package;
#  - the window's start-up, process start to shown (Wine on Xvfb).
# Every Wine process goes through scripts/wine-run. KORVEL_BENCH_BRIEF=1: 500 records instead of the ring.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${KORVEL_BUILD_DIR:?KORVEL_BUILD_DIR names the Linux build folder}
# The x64 and x86 builds (KORVEL_WINDOWS_BUILD, KORVEL_WINDOWS_X86_BUILD name others).
win=${KORVEL_WINDOWS_BUILD:-$root/build/windows}
win86=${KORVEL_WINDOWS_X86_BUILD:-$root/build/windows-x86}
if [[ ! -x "$win/cli/korvel-cli.exe" ]]; then
  echo '{"name": "Windows (Wine)", "value": null, "skip": "no Windows build (scripts/windows builds it)"}'
  exit 0
fi
cmake --build "$build" --target korvel-sim >&2
# The x86 programs and every installer (its NSIS stub) are 32-bit: Wine runs them only with wine32:i386,
# which scripts/windows installs when the registry lets it, and names as skipped when not. Their rows are
# then left out, saying so, as that script's tests are.
wine32=1
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  wine32=0
  echo "SKIPPED: the x86 and installer rows: Wine cannot run 32-bit programs here (wine32:i386 is not installed)" >&2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
template=$work/template
"$root/scripts/wine-run" --setup "$template" >&2
export KORVEL_WINE_TEMPLATE=$template

python3 - "$root" "$build" "$work" "$win" "$win86" "$wine32" <<'PY'
import json
import os
import subprocess
import sys
import time

root, build, work, win, win86 = sys.argv[1:6]
wine32 = sys.argv[6] == "1"
records = 500 if os.environ.get("KORVEL_BENCH_BRIEF", "0") == "1" else 32767

def ring(arch, exe):
    """The full ring downloaded by exe, as wall time over the wire's bound."""
    run = f"{work}/{arch}"
    os.mkdir(run)
    link, log, folder = f"{run}/sim.tty", f"{run}/sim.log", f"{run}/upload"
    os.mkdir(folder)
    sim = subprocess.Popen([f"{build}/sim/korvel-sim", "--records", str(records), "--protocol", "2", "--baud", "115200",
                            "--link", link, "--log", log, "--control", "-", "--exit-on-stdin-eof"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        sim.stdout.readline()
        done = subprocess.run([f"{root}/scripts/wine-run", "--com", f"5={link}", exe,
                               "download", "--port", "COM5", "--dir", f"Z:{folder}"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if done.returncode != 0:
            sys.exit(f"{exe} download ended with {done.returncode}")
        sim.stdin.write("status\n")
        sim.stdin.flush()
        status = sim.stdout.readline()
    finally:
        sim.stdin.close()
        sim.wait()
    sent = int(status.split("sent=")[1].split()[0])
    # The record files only: the folder also holds the ledger of downloads.
    lines = sum(open(os.path.join(folder, n), "rb").read().count(b"\n") for n in os.listdir(folder)
                if n.endswith(".txt"))
    if lines != records:
        sys.exit(f"the record file holds {lines} lines, not {records}")
    commands = [line.rstrip("\n").split(" ", 1) for line in open(log)]
    walk = [(float(t), c) for t, c in commands if c.startswith("get")]
    tx = sum(len(c) + 1 for _, c in commands)
    wire = (sent + tx) / 11520.0
    # From the first record request to the end of the last reply (one reply's share of the bytes).
    wall = walk[-1][0] - walk[0][0] + sent / len(walk) / 11520.0
    print(json.dumps({"name": f"Windows: full ring at protocol 2, 115200 bit/s, wall/wire (korvel-cli.exe {arch}, Wine)",
                      "value": round(wall / wire, 3), "unit": "x", "goal": "<= 1.05"}), flush=True)

for arch, folder in (("x64", win), ("x86", win86)):
    exe = f"{folder}/cli/korvel-cli.exe"
    if os.path.exists(exe) and (arch == "x64" or wine32):
        ring(arch, exe)

# The silent install, each into a prefix of its own (wine-run copies the template and removes it after).
for arch, folder in (("x64", win), ("x86", win86)):
    packages = f"{folder}/packages"
    setups = [n for n in os.listdir(packages) if n.endswith("-setup.exe")] if os.path.isdir(packages) else []
    if not setups or not wine32:
        continue
    start = time.monotonic()
    done = subprocess.run([f"{root}/scripts/wine-run", f"{packages}/{setups[0]}", "/S"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        sys.exit(f"{setups[0]} /S ended with {done.returncode}")
    print(json.dumps({"name": f"Windows: silent install of the {arch} installer (Wine, prefix copy included)",
                      "value": round(seconds, 2), "unit": "s", "goal": ""}), flush=True)
PY

for f in "$win"/wingui/korvel.exe "$win"/cli/korvel-cli.exe "$win"/packages/* "$win86"/wingui/korvel.exe \
  "$win86"/cli/korvel-cli.exe "$win86"/packages/*; do
  [[ -f "$f" ]] || continue
  printf '{"name": "Windows: size of %s", "value": %s, "unit": "KiB", "goal": ""}\n' \
    "$(basename "$(dirname "$(dirname "$f")")")/${f#"$(dirname "$(dirname "$f")")"/}" "$(( $(stat -c %s "$f") / 1024 ))"
done

if [[ -x "$win/tests/window_test.exe" ]] && command -v xvfb-run >/dev/null; then
  ms=$(bash "$root/tests/win/window_test.sh" "$win/tests/window_test.exe" "$build/sim/korvel-sim" "$work/shot.png" |
       sed -n 's/^startup-ms //p')
  printf '{"name": "Windows: window start-up to shown (korvel window under Wine, Xvfb)", "value": %s, "unit": "ms", "goal": ""}\n' \
    "${ms:-null}"
fi
