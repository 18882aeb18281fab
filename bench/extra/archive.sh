#!/usr/bin/env bash
# korvel-cli archive, export and report over folders written by archive_fixture.cpp: the archive of
# 10,000 files of 1,000 lines (warm: the files were just written and read once), the export of a
# million records to CSV, the report of 100,000 records and the overview of 20 devices of 100,000 records
# each (their size, and their first drawing in headless Chromium without a network, as the page itself
# measures it). Beside the archive, `cat` reads the
# same files once in the same run, and the ratio of the two is a row. Hostile folders: a 20 MB file of
# newlines named as a record file (time and peak memory), a CRLF copy of an archive against its LF
# original, and 100,000 records of distinct decimal values. KORVEL_BENCH_BRIEF=1: the same on folders a
# hundredth of the size or less, once each.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KORVEL_BUILD_DIR:?KORVEL_BUILD_DIR names the build folder}
cmake --build "$build" --target korvel-cli >&2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++20 -I"$root/src" -o "$work/fixture" "$here/archive_fixture.cpp" "$root/src/protocol/crc16.cpp"
c++ -O2 -std=c++20 -o "$work/max_rss" "$here/max_rss.cpp"
mkdir "$work/big" "$work/million" "$work/report" "$work/site"
mkdir "$work/lf" "$work/crlf" "$work/newlines" "$work/decimals"
if [ "${KORVEL_BENCH_BRIEF:-0}" = 1 ]; then
  # Files × lines: a device's files hold (files × (lines - 1) + 1) records, as below.
  big=(100 100 10) million=(11 100) report=(11 100) site=(40 100 20) lf=(2 1000) newline_bytes=200000
  decimals=1000
else
  big=(10000 1000 10)
  million=(1001 1000)   # 1001 × 999 new records + 1 = 1,000,000
  report=(101 1000)     # 101 × 999 + 1 = 100,900
  site=(2020 1000 20)   # 20 devices × 100,900
  lf=(200 10000)        # 200 × 9,999 + 1 = 1,999,801 records
  newline_bytes=20000000 decimals=100000
fi
"$work/fixture" "$work/big" "${big[@]}"
"$work/fixture" "$work/million" "${million[@]}" 1
"$work/fixture" "$work/report" "${report[@]}" 1
"$work/fixture" "$work/site" "${site[@]}"
"$work/fixture" "$work/lf" "${lf[@]}" 1
for f in "$work/lf"/*.txt; do sed 's/$/\r/' "$f" > "$work/crlf/$(basename "$f")"; done
head -c "$newline_bytes" /dev/zero | tr '\0' '\n' > "$work/newlines/220730-102005-123-7b.txt"
export million_records=$((million[0] * (million[1] - 1) + 1)) report_records=$((report[0] * (report[1] - 1) + 1))
export site_records=$((site[0] * (site[1] - 1) + site[2])) decimals
python3 - "$build/cli/korvel-cli" "$work" <<'PY'
import calendar, json, os, re, shutil, subprocess, sys, time

cli, work = sys.argv[1], sys.argv[2]
brief = os.environ.get("KORVEL_BENCH_BRIEF", "0") == "1"
million, report_records = int(os.environ["million_records"]), int(os.environ["report_records"])
site_records = int(os.environ["site_records"])

def best(args, runs=3, ok=(0,)):
    subprocess.run(args, stdout=subprocess.DEVNULL, check=False)  # warm
    times = []
    for _ in range(1 if brief else runs):
        start = time.monotonic()
        code = subprocess.run(args, stdout=subprocess.DEVNULL).returncode
        times.append(time.monotonic() - start)
        if code not in ok:
            sys.exit(f"{args} ended with {code}")
    return min(times)

def row(name, value, unit, goal=""):
    print(json.dumps({"name": name, "value": value, "unit": unit, "goal": goal}))

def unmeasured(name, why):
    print(json.dumps({"name": name, "value": None, "skip": why}))

def crc(data):
    r = 0xFFFF
    for x in data:
        r ^= x
        for _ in range(8):
            r = (r >> 1) ^ 0xA001 if r & 1 else r >> 1
    return r

with open(f"{work}/decimals/220730-102005-123-7b.txt", "w") as out:
    base = calendar.timegm((2022, 7, 30, 0, 0, 0, 0, 0, 0))
    for i in range(int(os.environ["decimals"])):
        text = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(base + 121 * i)) + f"+08:00 {i}.5 0123"
        out.write(f"{text} {crc(text.encode()):04x}\n")

archive = best([cli, "archive", "--dir", f"{work}/big"])
files = [os.path.join(d, f) for d, _, names in os.walk(f"{work}/big") for f in names]
with open(f"{work}/files0", "w") as f:
    f.write("\0".join(files))
cat = best(["/bin/sh", "-c", 'exec xargs -0 cat < "$0" > /dev/null', f"{work}/files0"])
row("archive 10,000 files x 1,000 lines (warm)", round(archive, 3), "s", "<= 2 s")
row("cat of the same 10,000 files (warm)", round(cat, 3), "s")
# archive reads with a thread per core, up to four; cat is one thread that only copies. The files cost
# archive about three times cat's CPU, so it keeps up with cat on four cores, not on fewer.
row("archive / cat", round(archive / cat, 2), "x", "<= 1.5" if os.cpu_count() >= 4 else "<= 1.5 with 4 cores")

def peak(args):
    start = time.monotonic()
    subprocess.run([f"{work}/max_rss", f"{work}/rss", *args], stdout=subprocess.DEVNULL)
    return time.monotonic() - start, int(open(f"{work}/rss").read()) / 1024

seconds, mib = peak([cli, "archive", "--dir", f"{work}/newlines", "--json"])
row("archive --json of a 20 MB file of newlines", round(seconds, 3), "s", "<= 2 s")
row("archive --json of a 20 MB file of newlines: peak memory", round(mib, 1), "MiB", "<= 100 MiB")
lf = best([cli, "archive", "--dir", f"{work}/lf"], runs=2)
crlf = best([cli, "archive", "--dir", f"{work}/crlf"], runs=2, ok=(5,))  # every line is damage
row("archive of 2,000,000 records (LF)", round(lf, 3), "s")
row("archive of the same as CRLF / LF", round(crlf / lf, 2), "x", "<= 1.2")
row("archive of 100,000 distinct decimal values", round(best([cli, "archive", "--dir", f"{work}/decimals"]), 3), "s",
    "<= 0.5 s")
csv = f"{work}/million.csv"
row("export 1,000,000 records to CSV", round(best([cli, "export", "--product", "100", "--dir", f"{work}/million",
                                                 "--output", csv]), 3), "s", "<= 1 s")
with open(csv, "rb") as f:
    lines = sum(1 for _ in f)
if lines != million + 1:
    sys.exit(f"the CSV holds {lines} lines, not a header and {million} records")
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
    if not drawn or not points or points.group(1) != str(report_records):
        sys.exit("the report was not drawn with every record")
    row("report of 100,900 records: first drawing in Chromium", int(drawn.group(1)) / 1000, "s", "<= 1 s")
else:
    unmeasured("report of 100,900 records: first drawing in Chromium", "Chromium is not installed")
site = f"{work}/site.html"
subprocess.run([cli, "report", "--dir", f"{work}/site", "--output", site], check=True, stdout=subprocess.DEVNULL)
row("overview of 20 devices x 100,900 records: page size", round(os.path.getsize(site) / 1e6, 2), "MB")
if chromium:
    out = subprocess.run(["unshare", "-n", chromium, "--headless", "--no-sandbox", "--disable-gpu",
                          "--disable-quic", "--no-first-run", "--disable-background-networking",
                          "--disable-component-update", "--disable-sync", f"--user-data-dir={work}/profile-site",
                          "--virtual-time-budget=60000", "--dump-dom", f"file://{site}"],
                         capture_output=True, text=True).stdout
    first = re.search(r'data-first-draw-ms="(\d+)"', out)
    drawn = re.search(r'data-draw-ms="(\d+)"', out)
    points = re.search(r'data-drawn="(\d+)"', out)
    if not first or not drawn or not points or points.group(1) != str(site_records):
        sys.exit("the overview was not drawn with every record")
    row("overview of 20 devices x 100,900 records: first drawing in Chromium", int(first.group(1)) / 1000, "s",
        "<= 1.5 s")
    row("overview of 20 devices x 100,900 records: every plot drawn", int(drawn.group(1)) / 1000, "s")
else:
    unmeasured("overview of 20 devices x 100,900 records: first drawing in Chromium", "Chromium is not installed")
PY
