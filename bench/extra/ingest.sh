#!/usr/bin/env bash
# korvel-cli ingest and fleet over folders written by archive_fixture.cpp: a million records into a fresh
# SQLite file and into a fresh PostgreSQL database (COPY), the second ingest of the same files, fleet over
# the million in SQLite, and fleet over 100 recorders at 100 × 10,000 records (two weeks each; SQLite and
# PostgreSQL) and at 100 × 50,000 (ten weeks each; PostgreSQL):
# fleet reads per-device summaries that do not grow with the records, so the two figures show how it
# scales. Backfill: 100 older files loaded after 100 newer ones of one recorder, against the same 100 into an
# empty database, as a ratio. And ingest of the million as a ratio to the database's own bulk load of the
# same rows in the same run (psql's \copy into a table with the same key; the sqlite3 shell's .import).
# KORVEL_BENCH_YEAR=1 adds the whole year, 100 recorders × 262,000 records (26.2 million, a few
# minutes and about 10 GB of disk), into PostgreSQL. PostgreSQL runs in a
# temporary folder on a Unix socket (as nobody when this runs as root); its rows are left out where it
# is not installed. KORVEL_BENCH_BRIEF=1: the same on folders a hundredth of the size or less, once each.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${KORVEL_BUILD_DIR:?KORVEL_BUILD_DIR names the build folder}
cmake --build "$build" --target korvel-cli >&2
work=$(mktemp -d)
pg=/usr/lib/postgresql/15/bin
as_user=()
cleanup() {
  if [ -f "$work/pg/data/postmaster.pid" ]; then
    (cd "$work" && "${as_user[@]}" "$pg/pg_ctl" -D "$work/pg/data" -m immediate -w stop >/dev/null 2>&1) || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
c++ -O2 -std=c++20 -I"$root/src" -o "$work/fixture" "$here/archive_fixture.cpp" "$root/src/protocol/crc16.cpp"
mkdir "$work/million" "$work/fleet" "$work/fleet5" "$work/year" "$work/backfill"
if [ "${KORVEL_BENCH_BRIEF:-0}" = 1 ]; then
  million=(11 100) fleet=(100 101) fleet5=(200 101) backfill=(20 101)
else
  million=(1001 1000)  # 1001 × 999 new records + 1 = 1,000,000
  fleet=(1000 1001)    # 100 recorders × 10 files × 1,000 new records
  fleet5=(5000 1001)   # 100 recorders × 50 files × 1,000 new records
  backfill=(200 1001)  # one recorder × 200 files × 1,000 new records
fi
"$work/fixture" "$work/million" "${million[@]}" 1
"$work/fixture" "$work/fleet" "${fleet[@]}" 100
"$work/fixture" "$work/fleet5" "${fleet5[@]}" 100
"$work/fixture" "$work/backfill" "${backfill[@]}" 1
export million_records=$((million[0] * (million[1] - 1) + 1))

url=""
if [ -x "$pg/initdb" ] && [ -x "$pg/pg_ctl" ]; then
  mkdir "$work/pg"
  chmod 755 "$work"
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$work/pg"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  (cd "$work/pg" && "${as_user[@]}" "$pg/initdb" -D "$work/pg/data" -U korvel --auth=trust -E UTF8 \
     --locale=C.UTF-8 >/dev/null)
  (cd "$work/pg" && "${as_user[@]}" "$pg/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w \
     -o "-c listen_addresses='' -k $work/pg" start >/dev/null)
  url="postgresql://korvel@/postgres?host=$work/pg"
fi
[ "${KORVEL_BENCH_YEAR:-0}" = 1 ] && [ -n "$url" ] && "$work/fixture" "$work/year" 26200 1001 100  # 100 recorders × 262 files × 1,000 new records

python3 - "$build/cli/korvel-cli" "$work" "$url" <<'PY'
import json, os, subprocess, sys, time

cli, work, url = sys.argv[1], sys.argv[2], sys.argv[3]
brief = os.environ.get("KORVEL_BENCH_BRIEF", "0") == "1"
million = int(os.environ["million_records"])

def runs(n):
    return range(1 if brief else n)

def timed(args):
    start = time.monotonic()
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    elapsed = time.monotonic() - start
    if result.returncode not in (0, 5):
        sys.exit(f"{args} ended with {result.returncode}: {result.stderr}")
    return elapsed, result.stdout

def row(name, value, unit, goal=""):
    print(json.dumps({"name": name, "value": value, "unit": unit, "goal": goal}))

def fresh_sqlite(name):
    path = f"{work}/{name}.sqlite"
    for suffix in ("", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    return path

# The backfill: the older half of 200 files after the newer half, and the older half alone.
names = sorted(os.listdir(f"{work}/backfill"))
half_way = len(names) // 2
for half, part in (("older", names[:half_way]), ("newer", names[half_way:])):
    os.mkdir(f"{work}/{half}")
    for name in part:
        os.link(f"{work}/backfill/{name}", f"{work}/{half}/{name}")

def backfill_ratio(fresh_db, back_db):
    fresh, _ = timed([cli, "ingest", "--dir", f"{work}/older", "--db", fresh_db])
    timed([cli, "ingest", "--dir", f"{work}/newer", "--db", back_db])
    back, _ = timed([cli, "ingest", "--dir", f"{work}/older", "--db", back_db])
    return back / fresh

ratio = min(backfill_ratio(fresh_sqlite("bf_fresh"), fresh_sqlite("bf_back")) for _ in runs(2))
row("backfill: 100 older files after 100 newer / into an empty file (SQLite)", round(ratio, 2), "x", "<= 3 x")

# The rows ingest makes of the million, as CSV for the databases' own bulk loads.
import calendar
rows, seen = [], set()
for file_id, name in enumerate(sorted(os.listdir(f"{work}/million")), 1):
    with open(f"{work}/million/{name}") as f:
        for line in f:
            line = line.rstrip("\n")
            if line in seen:
                continue
            seen.add(line)
            _, _, value, product, _ = line.split(" ")
            stamp = line[:25]
            sign = 1 if stamp[19] == "+" else -1
            offset = sign * (int(stamp[20:22]) * 60 + int(stamp[23:25]))
            utc = calendar.timegm(time.strptime(stamp[:19], "%Y-%m-%d %H:%M:%S")) - offset * 60
            rows.append((int(product), line, utc, offset, value, file_id, stamp))
del seen
with open(f"{work}/rows_sqlite.csv", "w") as f:
    for r in rows:
        f.write(f"{r[0]},{r[1]},{r[2]},{r[3]},{r[4]},{r[5]}\n")
with open(f"{work}/rows_pg.csv", "w") as f:
    for r in rows:
        f.write(f"{r[0]},{r[6]},{r[1]},{r[3]},{r[4]},{r[5]}\n")
del rows

def sqlite_import():
    path = fresh_sqlite("bulk")
    subprocess.run(["sqlite3", path, "CREATE TABLE records (product INTEGER NOT NULL, line TEXT NOT NULL, "
                    "utc INTEGER NOT NULL, offset_minutes INTEGER NOT NULL, value TEXT NOT NULL, "
                    "file INTEGER NOT NULL, PRIMARY KEY (product, line)) WITHOUT ROWID"], check=True)
    start = time.monotonic()
    subprocess.run(["sqlite3", path, ".mode csv", f".import {work}/rows_sqlite.csv records"], check=True)
    return time.monotonic() - start

best = min(timed([cli, "ingest", "--dir", f"{work}/million", "--db", fresh_sqlite("million")])[0] for _ in runs(2))
bulk = min(sqlite_import() for _ in runs(2))
row("ingest 1,000,000 records into SQLite / the sqlite3 shell's .import of the same rows", round(best / bulk, 2),
    "x", "<= 1.2 x")
_, out = timed([cli, "ingest", "--dir", f"{work}/million", "--db", f"{work}/million.sqlite"])
row("ingest 1,000,000 records into SQLite", round(best, 3), "s", "<= 2 s")
again = min(timed([cli, "ingest", "--dir", f"{work}/million", "--db", f"{work}/million.sqlite"])[0] for _ in runs(3))
row("ingest of the same files again (SQLite)", round(again, 3), "s", "<= 0.2 s")
fleet = min(timed([cli, "fleet", "--db", f"{work}/million.sqlite"])[0] for _ in runs(3))
row("fleet over 1,000,000 records of one recorder (SQLite)", round(fleet, 3), "s")
timed([cli, "ingest", "--dir", f"{work}/fleet", "--db", fresh_sqlite("fleet")])
fleet = min(timed([cli, "fleet", "--db", f"{work}/fleet.sqlite"])[0] for _ in runs(3))
row("fleet over 100 recorders x 10,000 records (SQLite)", round(fleet, 3), "s")
if url:
    first, out = timed([cli, "ingest", "--dir", f"{work}/million", "--db", url])
    if f"{million} new" not in out:
        sys.exit(f"PostgreSQL did not take {million} records: " + out)
    row("ingest 1,000,000 records into PostgreSQL (COPY)", round(first, 3), "s", "<= 4 s")
    subprocess.run(["psql", url, "-qc", "CREATE TABLE bulk (product bigint, taken timestamptz, line text COLLATE \"C\", "
                    "offset_minutes smallint, value text, file bigint, PRIMARY KEY (product, taken, line))"],
                   check=True, stdout=subprocess.DEVNULL)
    start = time.monotonic()
    subprocess.run(["psql", url, "-qc", f"\\copy bulk FROM '{work}/rows_pg.csv' (FORMAT csv)"], check=True,
                   stdout=subprocess.DEVNULL)
    bulk = time.monotonic() - start
    row("ingest 1,000,000 records into PostgreSQL / psql's \\copy of the same rows", round(first / bulk, 2), "x",
        "<= 1.3 x")
    ratios = []
    for attempt in runs(2):
        names = [f"bf_fresh{attempt}", f"bf_back{attempt}"]
        for name in names:
            subprocess.run(["psql", url, "-qc", f"CREATE DATABASE {name}"], check=True, stdout=subprocess.DEVNULL)
        ratios.append(backfill_ratio(*[url.replace("/postgres?", f"/{name}?") for name in names]))
    row("backfill: 100 older files after 100 newer / into an empty database (PostgreSQL)", round(min(ratios), 2),
        "x", "<= 3 x")
    again = min(timed([cli, "ingest", "--dir", f"{work}/million", "--db", url])[0] for _ in runs(3))
    row("ingest of the same files again (PostgreSQL)", round(again, 3), "s", "<= 0.2 s")
    fleet_url = url.replace("/postgres?", "/fleet?")
    subprocess.run(["psql", url, "-qc", "CREATE DATABASE fleet"], check=True, stdout=subprocess.DEVNULL)
    load, _ = timed([cli, "ingest", "--dir", f"{work}/fleet", "--db", fleet_url])
    row("ingest 1,000,100 records of 100 recorders into PostgreSQL", round(load, 3), "s")
    fleet = min(timed([cli, "fleet", "--db", fleet_url])[0] for _ in runs(3))
    row("fleet over 100 recorders x 10,000 records (PostgreSQL)", round(fleet, 3), "s", "<= 1 s at 26 M")
    fleet5_url = url.replace("/postgres?", "/fleet5?")
    subprocess.run(["psql", url, "-qc", "CREATE DATABASE fleet5"], check=True, stdout=subprocess.DEVNULL)
    load, _ = timed([cli, "ingest", "--dir", f"{work}/fleet5", "--db", fleet5_url])
    row("ingest 5,000,100 records of 100 recorders into PostgreSQL", round(load, 3), "s")
    fleet = min(timed([cli, "fleet", "--db", fleet5_url])[0] for _ in runs(3))
    row("fleet over 100 recorders x 50,000 records (PostgreSQL)", round(fleet, 3), "s", "<= 1 s at 26 M")
    if os.listdir(f"{work}/year"):
        year_url = url.replace("/postgres?", "/year?")
        subprocess.run(["psql", url, "-qc", "CREATE DATABASE year"], check=True, stdout=subprocess.DEVNULL)
        load, _ = timed([cli, "ingest", "--dir", f"{work}/year", "--db", year_url])
        row("ingest 26,200,100 records of 100 recorders into PostgreSQL", round(load, 3), "s")
        fleet = min(timed([cli, "fleet", "--db", year_url])[0] for _ in runs(3))
        row("fleet over 100 recorders x 262,000 records, a year each (PostgreSQL)", round(fleet, 3), "s", "<= 1 s")
if not url:
    print(json.dumps({"name": "ingest and fleet in PostgreSQL", "value": None,
                      "skip": f"PostgreSQL 15 is not installed (no {'/usr/lib/postgresql/15/bin/initdb'})"}))
PY
