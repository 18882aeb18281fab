#!/usr/bin/env python3
"""Prints one table of benchmark figures.

    bench_table.py [--cores N] [--brief] [--all-measured] [--load L] FILE [--load L] FILE ...

Reads Google Benchmark JSON (the figure of each benchmark is its bytes/s in MB/s, else its items/s,
else its time; every user counter becomes a row of its own) and any number of files of JSON lines,
one row each: {"name": ..., "value": ..., "unit": ..., "goal": ...}; a row that could not be measured
here says why with "skip" instead of a value. A goal such as ">= 400 MB/s" in the row's unit is checked
and marked; a benchmark gives its goal as its label (state.SetLabel), and a goal in the unit of one of
its counters (">= 2000 replies/s", "wall/wire <= 1.03") is that counter's. A goal for other conditions
("<= 1 s at 26 M", "<= 1.5 with 4 cores") is shown, not checked against a figure measured under these.
--load L is the load average while the files after it were measured: a goal missed while the machine
had more to run than cores says so. --brief: the figures come from small fixtures and are not judged.
The exit status is 1 when a row failed (no figure; with --all-measured also a row not measured).
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
        main = rows[-1]
        for key, value in b.items():
            if key not in known and isinstance(value, (int, float)):
                unit = key if "/" in key else ""
                rows.append({"name": f"{name} [{key}]", "value": value, "unit": unit, "goal": ""})
                parsed = parse_goal(goal)
                if parsed and key in (parsed["subject"], parsed["unit"]):
                    rows[-1]["goal"], main["goal"] = goal, ""
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
                             "goal": row.get("goal", ""), "note": row.get("note", ""), "skip": row.get("skip")})
            except (ValueError, KeyError) as e:
                rows.append({"name": f"{path}:{number}", "value": None, "unit": "", "goal": "",
                             "note": f"unreadable row: {e}"})
    return rows


def parse_goal(goal):
    """'[SUBJECT] OP NUMBER [UNIT] [at|with|on CONDITION]', or None."""
    head, condition = (re.split(r"\s+(?=(?:at|with|on)\s)", goal or "", maxsplit=1) + [""])[:2]
    m = re.fullmatch(r"\s*(?:(\S+)\s+)?(>=|<=|>|<)\s*([0-9.]+)\s*(\S*)\s*", head)
    if not m:
        return None
    return {"subject": m.group(1) or "", "op": m.group(2), "limit": float(m.group(3)), "unit": m.group(4),
            "condition": condition.strip()}


def verdict(row, options):
    if row["value"] is None:
        if row.get("skip"):
            return ("FAILED: not measured: " if options["all_measured"] else "not measured: ") + row["skip"]
        return "FAILED: " + (row.get("note") or "no figure")
    goal = parse_goal(row["goal"])
    if not goal or goal["unit"] not in ("", row["unit"]) or goal["subject"] not in ("", row["unit"]):
        return ""
    if options["brief"]:
        return "ran (brief: not judged)"
    if goal["condition"]:
        return f"not judged: the goal is {goal['condition']}"
    value, limit = row["value"], goal["limit"]
    ok = {">=": value >= limit, "<=": value <= limit, ">": value > limit, "<": value < limit}[goal["op"]]
    if ok:
        return "met"
    load = row.get("load")
    if load is not None and load > options["cores"]:
        return f"MISSED under load {load:.1f} on {options['cores']} cores: measure again"
    return "MISSED"


def figure(value):
    if value is None:
        return "-"
    if abs(value) >= 100:
        return f"{value:,.0f}"
    return f"{value:.3g}"


def main(argv):
    options = {"cores": 0, "brief": False, "all_measured": False}
    rows, load, args = [], None, argv[1:]
    while args:
        arg = args.pop(0)
        if arg == "--cores":
            options["cores"] = int(args.pop(0))
        elif arg == "--brief":
            options["brief"] = True
        elif arg == "--all-measured":
            options["all_measured"] = True
        elif arg == "--load":
            load = float(args.pop(0))
        else:
            part = rows_from_benchmark(arg) if arg.endswith(".json") else rows_from_lines(arg)
            for row in part:
                row["load"] = load
            rows += part
    if options["brief"]:
        print("Brief run: small fixtures, every benchmark once; the figures show that each runs, not its speed.")
    header = ("benchmark", "figure", "unit", "goal", "status", "load")
    verdicts = [verdict(r, options) for r in rows]
    table = [header] + [(r["name"], figure(r["value"]), r["unit"], r["goal"] or "-", v,
                         "-" if r.get("load") is None else f"{r['load']:.1f}") for r, v in zip(rows, verdicts)]
    widths = [max(len(row[i]) for row in table) for i in range(len(header))]
    for i, row in enumerate(table):
        print("  ".join(cell.rjust(w) if c in (1, 5) else cell.ljust(w)
                        for c, (cell, w) in enumerate(zip(row, widths))).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths).rstrip())
    if options["cores"]:
        print(f"load: the 1-minute load average while the row's part ran, on {options['cores']} cores")
    return 1 if any(v.startswith("FAILED") for v in verdicts) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
