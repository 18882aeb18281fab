#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# A differential test of `korvel-cli archive --json` and `export`: a small model of its own builds random
# archives (devices, subfolders, lost ranges, clock set-backs, damaged lines, values that are no number,
# repeated files, PC clocks that were wrong when a file was named) and works out from the rules what the
# tool must print, the days, highest values and periods above a limit included. Every seed must match
# exactly.
#   archive_model.py KORVEL_CLI [--seeds N] [--first S]
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
from datetime import datetime, timedelta

LINE = re.compile(rb"^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)([+-])(\d\d):(\d\d) (\S+) (\S+)$")


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def checked(text):
    return text + b" %04x\n" % crc16(text)


# --- the archives -------------------------------------------------------------------------------------


def device_records(rng, count, interval):
    """Clock times of a device's records, with the odd set-back; one offset throughout."""
    t = datetime(2024, 3, 5) + timedelta(seconds=rng.randrange(86400))
    times = []
    for i in range(count):
        if i and rng.random() < 0.02:
            t -= timedelta(seconds=rng.choice([3600, 7260, 600]))
        times.append(t)
        t += timedelta(seconds=interval + (rng.choice([0, 0, 0, 1, -1]) if rng.random() < 0.1 else 0))
    return times


def build(rng, folder):
    """Writes a random archive below folder."""
    products = rng.sample([123, 456, 7, 3000000000, 4000000000], rng.randint(1, 3))
    used = set()
    for product in products:
        interval = rng.choice([121, 121, 60])
        spelling = b"%04d" % product
        times = device_records(rng, rng.randint(5, 120), interval)
        lines = [checked(t.strftime("%Y-%m-%d %H:%M:%S+08:00").encode() + b" %d %s" %
                         (rng.randrange(1000), spelling)) for t in times]
        if rng.random() < 0.3:  # a value written as a decimal
            k = rng.randrange(len(lines))
            lines[k] = checked(lines[k][:-6].rsplit(b" ", 2)[0] + b" 12.5 " + spelling)
        if rng.random() < 0.3:  # a value that is no number
            k = rng.randrange(len(lines))
            lines[k] = checked(lines[k][:-6].rsplit(b" ", 2)[0] + b" " + rng.choice([b"nan", b"inf", b"x"]) +
                               b" " + spelling)
        start = 0
        while start < len(lines):
            end = min(len(lines) - 1, start + rng.randint(0, 40))
            body = lines[start:end + 1]
            damage = rng.random()
            if damage < 0.1 and len(body) > 1:
                k = rng.randrange(len(body))
                body[k] = body[k][:3] + bytes([body[k][3] ^ 1]) + body[k][4:]
            elif damage < 0.15:
                body.insert(rng.randrange(len(body) + 1), b"\n")
            elif damage < 0.2:
                k = rng.randrange(len(body))
                body[k] = body[k][:-1] + b"\r\n"
            elif damage < 0.25:
                k = rng.randrange(len(body))
                body[k] = checked(body[k][:-6].rsplit(b" ", 1)[0] + b" 99")
            content = (b"\xef\xbb\xbf" if rng.random() < 0.1 else b"") + b"".join(body)
            # The PC clock names the file: mostly a little after its last record, sometimes years off.
            named = times[end] + timedelta(minutes=rng.randint(1, 90))
            if rng.random() < 0.15:
                named = datetime(2020, 1, 1) + timedelta(seconds=rng.randrange(10**8))
            while True:
                name = "%d%02d%02d-%02d%02d%02d-%d-%x.txt" % (named.year - 2000, named.month, named.day,
                                                               named.hour, named.minute, named.second,
                                                               product, product)
                if name not in used:
                    break
                named += timedelta(seconds=1)
            used.add(name)
            sub = rng.choice(["", "", "a", "a/b", "old"])
            for where in [sub] + (["copy"] if rng.random() < 0.1 else []):
                os.makedirs(os.path.join(folder, where), exist_ok=True)
                with open(os.path.join(folder, where, name), "wb") as f:
                    f.write(content)
            # The next download repeats this one's last record, unless records were lost in between.
            start = end + (rng.randint(2, 30) if rng.random() < 0.15 else 0)
            if end == len(lines) - 1:
                break


# --- the model ----------------------------------------------------------------------------------------

NAME = re.compile(r"^(?:.*-)?(\d+)-([0-9a-f]+)\.txt$")


def named_product(name):
    m = re.match(r"^.*-(0|[1-9]\d{0,9})-(0|[1-9a-f][0-9a-f]{0,7})\.txt$", name)
    if not m or int(m.group(1)) != int(m.group(2), 16) or int(m.group(1)) > 0xFFFFFFFF:
        return None
    return int(m.group(1))


def name_time(name):
    m = re.match(r"^(\d{5,9})-(\d{6})-", name)
    if not m:
        return -1
    date = int(m.group(1))
    return ((2000 + date // 10000) * 10000 + date % 10000) * 1000000 + int(m.group(2))


def walk(folder):
    found = []
    for root, dirs, names in os.walk(folder):
        for name in names:
            if named_product(name) is not None:
                rel = os.path.relpath(os.path.join(root, name), folder)
                found.append(tuple(rel.split(os.sep)))
    found.sort()
    found = ["/".join(parts) for parts in found]
    return sorted(found, key=lambda rel: name_time(rel.rsplit("/", 1)[-1]))  # stable


def utc_of(body):
    m = LINE.match(body)
    y, mo, d, h, mi, s = (int(m.group(i)) for i in range(1, 7))
    offset = (int(m.group(8)) * 60 + int(m.group(9))) * (-1 if m.group(7) == b"-" else 1)
    return int((datetime(y, mo, d, h, mi, s) - datetime(1970, 1, 1)).total_seconds()) - offset * 60


def classify(line, product):
    """The body of a valid record line, or the reason it is damaged."""
    if not line:
        return None, "empty line"
    if line.endswith(b"\r"):
        return None, "the line ends in CR; record lines end in LF alone"
    body, digits = line[:-5], line[-4:]
    if crc16(body) != int(digits, 16):
        return None, "checksum mismatch"
    field = body.rsplit(b" ", 1)[1]
    if not field.isdigit() or int(field) != product:
        return None, "the product number %s is not the file's %d" % (field.decode(), product)
    return body, None


def iso(body):
    return (body[:10] + b"T" + body[11:25]).decode()


LIMIT = 500


def value_of(body):
    """The value as a number; None for one that is no number (nan, inf, words)."""
    text = body.decode().split(" ")[2]
    if not re.fullmatch(r"-?\d+(\.\d+)?", text):
        return None
    return float(text) if "." in text else int(text)


def first_highest(bodies):
    """The highest value of bodies (oldest first) and the first record that has it."""
    best = None
    for b in bodies:
        if value_of(b) is None:
            continue
        if best is None or value_of(b) > value_of(best):
            best = b
    return best


def running_summary(records, interval):
    """Highest value, days by the lines' own clock date, and the runs above LIMIT with no gap."""
    chrono = sorted(records, key=utc_of)
    top = first_highest(chrono)
    out = {"highest": {"value": value_of(top), "time": iso(top)} if top else None, "days": []}
    for date in sorted({b[:10] for b in chrono}):
        day = [b for b in chrono if b[:10] == date]
        top = first_highest(day)
        out["days"].append({"date": date.decode(), "records": len(day),
                            "running_seconds": sum(1 for b in day if (value_of(b) or 0) > 0) * interval
                            if interval else None,
                            "highest": value_of(top) if top else None,
                            "highest_time": iso(top) if top else None})
    runs, previous = [], None
    for b in chrono:
        joined = runs and runs[-1][-1] is previous and 2 * (utc_of(b) - utc_of(previous)) <= 3 * (interval or 0)
        previous = b
        if (value_of(b) or 0) > LIMIT:
            if joined:
                runs[-1].append(b)
            else:
                runs.append([b])
    out["limit"] = LIMIT
    out["periods_above_limit"] = []
    for run in runs:
        top = first_highest(run)
        out["periods_above_limit"].append({"start": iso(run[0]), "end": iso(run[-1]), "records": len(run),
                                           "duration_seconds": len(run) * interval if interval else None,
                                           "highest": value_of(top),
                                           "highest_time": iso(top)})
    return out


def model(folder):
    files = walk(folder)
    devices = {}
    for index, rel in enumerate(files):
        product = named_product(rel.rsplit("/", 1)[-1])
        d = devices.setdefault(product, {"files": [], "valid": 0, "met": [], "spans": [], "steps": {},
                                         "jumps": [], "damaged": [], "conflicts": [], "no_number": []})
        d["files"].append(index)
        data = open(os.path.join(folder, rel), "rb").read()
        if data.startswith(b"\xef\xbb\xbf"):
            data = data[3:]
        pieces = data.split(b"\n")
        if pieces and pieces[-1] == b"":
            pieces.pop()
        seq, previous = [], None
        for number, line in enumerate(pieces, 1):
            body, reason = classify(line, product)
            if body is None:
                d["damaged"].append({"file": rel, "line": number, "reason": reason})
                continue
            d["valid"] += 1
            if body not in d["met"]:
                same = [b for b in d["met"] if utc_of(b) == utc_of(body)]
                if same:
                    d["conflicts"].append((same[0], body))
                d["met"].append(body)
                if value_of(body) is None:
                    d["no_number"].append({"file": rel, "line": number, "time": iso(body),
                                           "value": body.decode().split(" ")[2]})
            seq.append(body)
            if previous is not None:
                step = utc_of(body) - utc_of(previous)
                if step > 0:
                    d["steps"][step] = d["steps"].get(step, 0) + 1
                if step < 0:
                    d["jumps"].append({"file": rel, "line": number, "before": iso(previous), "after": iso(body)})
            previous = body
        if seq:
            d["spans"].append((index, seq))

    out = []
    for product in sorted(devices):
        d = devices[product]
        # The files in the order their records say: one that begins with another's last record follows
        # it; the rest by the time of their first record.
        spans = sorted(d["spans"], key=lambda s: utc_of(s[1][0]))
        pred, succ = {}, {}
        for i, (_, seq) in enumerate(spans):
            for j, (_, other) in enumerate(spans):
                if j == i or j in succ or other[-1] != seq[0]:
                    continue
                head = j
                while head in pred:
                    head = pred[head]
                if head == i:
                    continue
                pred[i], succ[j] = j, i
                break
        order = []
        for i in range(len(spans)):
            if i not in pred:
                while i is not None:
                    order.append(i)
                    i = succ.get(i)
        records, first_file = [], {}
        for i in order:
            for body in spans[i][1]:
                if body not in first_file:
                    first_file[body] = files[spans[i][0]]
                    records.append(body)
        file_order = [spans[i][0] for i in order] + [f for f in d["files"] if f not in
                                                      [spans[i][0] for i in order]]
        # No two neighbouring lines apart: no usual interval, and no gap told from one.
        interval = None
        if d["steps"]:
            interval = min(d["steps"], key=lambda s: (-d["steps"][s], s))
        gaps = []
        for a, b in zip(records, records[1:]):
            step = utc_of(b) - utc_of(a)
            if interval and 2 * step > 3 * interval:
                gaps.append({"start": iso(a), "end": iso(b), "missing": max(1, (step + interval // 2) // interval - 1)})
        utcs = [utc_of(b) for b in records]
        earliest = utcs.index(min(utcs)) if utcs else None
        newest = len(utcs) - 1 - utcs[::-1].index(max(utcs)) if utcs else None
        position = {b: k for k, b in enumerate(records)}
        conflicts = []
        for a, b in d["conflicts"]:
            a, b = sorted((a, b), key=position.get)
            conflicts.append({"time": iso(a), "file": first_file[a], "other_file": first_file[b]})
        complete = not gaps and not d["jumps"] and not d["damaged"] and not conflicts
        out.append({
            "product": product, "complete": complete, "files": len(file_order), "valid_lines": d["valid"],
            "records": len(records), "first": iso(records[earliest]) if records else None,
            "last": iso(records[newest]) if records else None, "interval_seconds": interval,
            "gaps": gaps, "clock_set_backs": d["jumps"], "damaged_lines": d["damaged"][:100],
            "damaged_lines_unlisted": 0, "conflicting_records": conflicts, "unreadable": [], "no_number": d["no_number"],
            **running_summary(records, interval),
        })
        csv = ["time,value,product,file"]
        for body in sorted(records, key=utc_of):
            fields = body.decode().split(" ")
            rel = first_file[body]
            cell = "'" + rel if rel[0] in "=+-@\t\r" else rel
            csv.append(",".join([iso(body), fields[2], fields[3], cell]))
        out[-1]["csv"] = "\r\n".join(csv) + "\r\n"
    return files, out


def run_seed(cli, seed):
    rng = random.Random(seed)
    folder = tempfile.mkdtemp(prefix="korvel-model-")
    try:
        build(rng, folder)
        files, devices = model(folder)
        result = subprocess.run([cli, "archive", "--dir", folder, "--json", "--limit", str(LIMIT)], capture_output=True)
        got = json.loads(result.stdout)
        csvs = {d["product"]: d.pop("csv") for d in devices}
        expected = {"folder": folder, "complete": all(d["complete"] for d in devices), "files": len(files),
                    "devices": devices, "unreadable": []}
        problems = []
        if got != expected:
            for key in expected:
                if got.get(key) != expected[key]:
                    problems.append(f"archive --json: {key}: got {json.dumps(got.get(key))[:2000]}\n"
                                    f"  expected {json.dumps(expected[key])[:2000]}")
        if result.returncode != (0 if expected["complete"] else 5):
            problems.append(f"archive exit code {result.returncode}")
        for product, csv in csvs.items():
            export = subprocess.run([cli, "export", "--product", str(product), "--dir", folder],
                                    capture_output=True)
            if export.stdout.decode() != csv:
                problems.append(f"export --product {product} differs")
        return problems
    finally:
        shutil.rmtree(folder)


def main():
    args = sys.argv[1:]
    cli = args[0]
    seeds = int(args[args.index("--seeds") + 1]) if "--seeds" in args else 60
    first = int(args[args.index("--first") + 1]) if "--first" in args else 1
    failed = 0
    for seed in range(first, first + seeds):
        problems = run_seed(cli, seed)
        if problems:
            failed += 1
            print(f"seed {seed}:\n  " + "\n  ".join(problems))
    print(f"{seeds - failed} of {seeds} seeds match the model")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
