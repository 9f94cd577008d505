"""Reading ctest's log, and what counts as a kill."""

import argparse
import io
import re
import tempfile
import time
import unittest
from pathlib import Path

from mutation.families import Selection
from mutation.generate import generate
from mutation.run import Run, exact_regex, judge, parse_ctest

LOG = """Test project /x/build
    Start 86: Gsm.Ok
    Start 87: Gsm.Hangs
1/3 Test #86: Gsm.Ok ...........................   Passed    0.02 sec
    Start 88: Param/Gsm.Fails/0
2/3 Test #88: Param/Gsm.Fails/0 ................***Failed    1.50 sec
[  FAILED  ] Gsm.Something 1 Test #99: Not.A.Result ... Passed 1 sec
3/3 Test #89: Gsm.Crash ........................Subprocess aborted***Exception:   0.31 sec
4/4 Test #90: Gsm.Slow .........................***Timeout  60.00 sec
"""


def mutants(statuses):
    out = generate("api/X.cpp", "int f() { return a < 1 && b > 2 || c == 3 && d != 4; }\n")[:len(statuses)]
    for m, (status, killers, limit) in zip(out, statuses):
        m.status, m.killers, m.limit = status, killers, limit
    return out


class Judging(unittest.TestCase):
    def test_log_gives_started_and_finished_tests(self):
        started, results = parse_ctest(LOG)
        self.assertEqual(started, ["Gsm.Ok", "Gsm.Hangs", "Param/Gsm.Fails/0"])
        self.assertEqual(results, {"Gsm.Ok": (True, 0.02, False), "Param/Gsm.Fails/0": (False, 1.5, False),
                                   "Gsm.Crash": (False, 0.31, False), "Gsm.Slow": (False, 60.0, True)})
        names = ["Param/Gsm.Fails/0", "a.b+c"]
        self.assertTrue(all(re.fullmatch(exact_regex(names), n) for n in names))
        self.assertIsNone(re.fullmatch(exact_regex(names), "aXb+c"))

    def test_a_kill_counts_only_when_its_test_passes_unmutated(self):
        ms = mutants([("killed", ["A"], 0), ("killed", ["B", "A"], 0), ("killed", ["B"], 0), ("killed", [], 0),
                      ("killed", ["build:test_x"], 0), ("timeout", ["A"], 90), ("timeout", ["C"], 90),
                      ("timeout", ["A", "C"], 90), ("timeout", [], 90), ("survived", [], 0)])
        judge(ms, {"A": (True, 10.0, False), "B": (False, 1.0, False), "C": (True, 31.0, False)})
        self.assertEqual([m.status for m in ms],
                         ["killed", "killed", "unconfirmed", "unconfirmed", "killed", "timeout", "unconfirmed",
                          "unconfirmed", "unconfirmed", "survived"])
        self.assertIn("fail unmutated too", ms[2].note)
        self.assertIn("C not within a third of the 90 s limit", ms[6].note)


class SlowScratch:
    """A scratch tree whose every build and test outlasts what it is given."""

    def __init__(self, base):
        self.base, self.build, self.src = base, base / "build", base / "src"
        self.given = []

    def run(self, argv, log, timeout):
        self.given.append(timeout)
        return None, timeout

    def ninja(self, targets, log, timeout=1800):
        return self.run(targets, log, timeout)

    lock = kill_child = configure = lambda self: None  # noqa: E731
    sync = lambda self: 0  # noqa: E731
    all_programs = lambda self: set()  # noqa: E731


class Budget(unittest.TestCase):
    def test_a_build_the_budget_cannot_hold_is_cut_at_its_end_and_judges_nothing(self):
        ms = mutants([(None, [], 0)] * 3)
        with tempfile.TemporaryDirectory() as d:
            args = argparse.Namespace(budget=60, scratch=Path(d), jobs=2, reference=None)
            judges = argparse.Namespace(selection={m.file: Selection(["x"]) for m in ms})
            run = Run(args, Path(d), judges, ms, out=io.StringIO(), t0=time.monotonic() - 20)
            run.scratch = SlowScratch(Path(d))
            run.execute()
        self.assertLessEqual(run.scratch.given[0], 40)  # what the 60 s left after 20
        self.assertEqual({m.status for m in ms}, {"notrun"})
        self.assertIn("the scratch tree's build", ms[0].note)


if __name__ == "__main__":
    unittest.main()
