#!/usr/bin/env python3
"""scripts/bench_table.py: how each row's status follows from its figure, goal, load and the run's kind,
and which rows fail the run. The expected statuses are written out per case."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "bench_table.py")


def run(parts, *options):
    """Runs the table on parts: (load or None, rows as JSON lines, or a Google Benchmark document)."""
    with tempfile.TemporaryDirectory() as folder:
        args = [sys.executable, TABLE, "--cores", "2", *options]
        for i, (load, content) in enumerate(parts):
            suffix = ".json" if isinstance(content, dict) else ".jsonl"
            path = os.path.join(folder, f"part{i}{suffix}")
            with open(path, "w") as f:
                if isinstance(content, dict):
                    json.dump(content, f)
                else:
                    f.write("".join(json.dumps(row) + "\n" for row in content))
            if load is not None:
                args += ["--load", str(load)]
            args.append(path)
        done = subprocess.run(args, capture_output=True, text=True)
    lines = done.stdout.splitlines()
    header = next(i for i, line in enumerate(lines) if line.startswith("benchmark"))
    # Status by row name: the column starts where the header's "status" does.
    at, load_at = lines[header].index("status"), lines[header].index("load")
    statuses = {}
    for line in lines[header + 2:]:
        if line.startswith("load:"):
            break
        statuses[line.split("  ")[0]] = line[at:load_at].strip()
    return done.returncode, statuses


def row(name, value, unit="s", goal="", **extra):
    return {"name": name, "value": value, "unit": unit, "goal": goal, **extra}


class Statuses(unittest.TestCase):
    def test_a_row_per_case(self):
        cases = [
            # (load, row, status)
            (1.0, row("met", 0.5, goal="<= 1 s"), "met"),
            (1.0, row("at the limit", 1.0, goal="<= 1 s"), "met"),
            (1.0, row("missed", 1.5, goal="<= 1 s"), "MISSED"),
            (2.5, row("missed under load", 1.5, goal="<= 1 s"), "MISSED under load 2.5 on 2 cores: measure again"),
            (2.5, row("met under load", 0.5, goal="<= 1 s"), "met"),
            (1.0, row("at least", 300, unit="MB/s", goal=">= 400 MB/s"), "MISSED"),
            (1.0, row("other unit", 300, unit="MB/s", goal=">= 400 replies/s"), ""),
            (1.0, row("no unit in goal", 1.6, unit="x", goal="<= 1.5"), "MISSED"),
            (1.0, row("condition at", 0.02, goal="<= 1 s at 26 M"), "not judged: the goal is at 26 M"),
            (1.0, row("condition with", 1.6, unit="x", goal="<= 1.5 with 4 cores"),
             "not judged: the goal is with 4 cores"),
            (1.0, row("no goal", 3.0), ""),
            (1.0, row("not measured", None, skip="Chromium is not installed"),
             "not measured: Chromium is not installed"),
            (1.0, row("failed", None, note="bench/extra/x.sh failed"), "FAILED: bench/extra/x.sh failed"),
        ]
        code, statuses = run([(load, [r]) for load, r, _ in cases])
        for load, r, status in cases:
            self.assertEqual(statuses.get(r["name"]), status, r["name"])
        self.assertEqual(code, 1)  # the failed row

    def test_what_fails_the_run(self):
        cases = [
            # (rows, options, exit status)
            ([row("missed", 2.0, goal="<= 1 s")], (), 0),
            ([row("not measured", None, skip="no Windows build")], (), 0),
            ([row("not measured", None, skip="no Windows build")], ("--all-measured",), 1),
            ([row("failed", None)], (), 1),
            ([row("missed", 2.0, goal="<= 1 s")], ("--brief",), 0),
        ]
        for rows, options, expected in cases:
            code, _ = run([(None, rows)], *options)
            self.assertEqual(code, expected, (rows, options))

    def test_a_brief_run_judges_no_goal(self):
        _, statuses = run([(1.0, [row("missed", 2.0, goal="<= 1 s"), row("met", 0.5, goal="<= 1 s")])], "--brief")
        self.assertEqual(statuses, {"missed": "ran (brief: not judged)", "met": "ran (brief: not judged)"})

    def test_a_goal_in_a_counters_unit_is_the_counters(self):
        document = {"benchmarks": [
            {"name": "BM_Reply", "run_type": "iteration", "real_time": 10, "time_unit": "us",
             "bytes_per_second": 80e6, "replies/s": 1500.0, "label": ">= 2000 replies/s"},
            {"name": "BM_Ring", "run_type": "iteration", "real_time": 109, "time_unit": "s",
             "wall/wire": 1.01, "records": 32767, "label": "wall/wire <= 1.03"},
            {"name": "BM_Broken", "run_type": "iteration", "real_time": 0, "time_unit": "ms",
             "error_occurred": True, "error_message": "the reply was not taken whole", "label": "<= 5 ms"},
        ]}
        code, statuses = run([(1.0, document)])
        self.assertEqual(statuses["BM_Reply"], "")
        self.assertEqual(statuses["BM_Reply [replies/s]"], "MISSED")
        self.assertEqual(statuses["BM_Ring [wall/wire]"], "met")
        self.assertEqual(statuses["BM_Ring [records]"], "")
        self.assertEqual(statuses["BM_Broken"], "FAILED: the reply was not taken whole")
        self.assertEqual(code, 1)


if __name__ == "__main__":
    unittest.main()
