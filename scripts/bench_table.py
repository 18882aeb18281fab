#!/usr/bin/env python3
"""Prints one table of benchmark figures.

Reads Google Benchmark JSON (the figure of each benchmark is its bytes/s in MB/s, else its items/s,
else its time; every user counter becomes a row of its own) and any number of files of JSON lines,
one row each: {"name": ..., "value": ..., "unit": ..., "goal": ...}. A goal such as ">= 400 MB/s" in
the row's unit is checked and marked; a benchmark gives its goal as its label (state.SetLabel).
"""
import json
import re
import sys

TIME_UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def rows_from_benchmark(path):
    with open(path) as f:
        data = json.load(f)
    rows = []
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "mean":
            continue
        name = b["name"]
        goal = b.get("label", "")
        if "error_message" in b:
            rows.append({"name": name, "value": None, "unit": "", "goal": goal, "note": b["error_message"]})
            continue
        if "bytes_per_second" in b:
            rows.append({"name": name, "value": b["bytes_per_second"] / 1e6, "unit": "MB/s", "goal": goal})
        elif "items_per_second" in b:
            rows.append({"name": name, "value": b["items_per_second"], "unit": "items/s", "goal": goal})
        else:
            unit = b.get("time_unit", "ns")
            rows.append({"name": name, "value": b["real_time"], "unit": unit, "goal": goal})
        known = {"name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
                 "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit",
                 "bytes_per_second", "items_per_second", "label", "aggregate_name", "aggregate_unit",
                 "error_occurred", "error_message"}
        for key, value in b.items():
            if key not in known and isinstance(value, (int, float)):
                unit = key if "/" in key else ""
                rows.append({"name": f"{name} [{key}]", "value": value, "unit": unit, "goal": ""})
    return rows


def rows_from_lines(path):
    rows = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line:
                continue
            try:
                row = json.loads(line)
                rows.append({"name": str(row["name"]), "value": row.get("value"), "unit": row.get("unit", ""),
                             "goal": row.get("goal", ""), "note": row.get("note", "")})
            except (ValueError, KeyError) as e:
                rows.append({"name": f"{path}:{number}", "value": None, "unit": "", "goal": "",
                             "note": f"unreadable row: {e}"})
    return rows


def verdict(row):
    if row["value"] is None:
        return "FAILED: " + row.get("note", "no figure")
    m = re.fullmatch(r"\s*(>=|<=|>|<)\s*([0-9.]+)\s*(\S*)\s*", row["goal"] or "")
    if not m or (m.group(3) and m.group(3) != row["unit"]):
        return ""
    op, limit = m.group(1), float(m.group(2))
    value = row["value"]
    ok = {">=": value >= limit, "<=": value <= limit, ">": value > limit, "<": value < limit}[op]
    return "met" if ok else "MISSED"


def figure(value):
    if value is None:
        return "-"
    if abs(value) >= 100:
        return f"{value:,.0f}"
    return f"{value:.3g}"


def main(argv):
    rows = []
    for path in argv[1:]:
        if path.endswith(".json"):
            rows += rows_from_benchmark(path)
        else:
            rows += rows_from_lines(path)
    header = ("benchmark", "figure", "unit", "goal", "status")
    table = [header] + [(r["name"], figure(r["value"]), r["unit"], r["goal"] or "-", verdict(r)) for r in rows]
    widths = [max(len(row[i]) for row in table) for i in range(len(header))]
    for i, row in enumerate(table):
        print("  ".join(cell.rjust(w) if c == 1 else cell.ljust(w)
                        for c, (cell, w) in enumerate(zip(row, widths))).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths).rstrip())
    return 1 if any(verdict(r).startswith("FAILED") for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
