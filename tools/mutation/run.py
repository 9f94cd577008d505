"""A run: the scratch tree built, the unmutated tests of each label set, the
mutants one at a time, and the confirmation of every kill."""

import collections
import re
import shutil
import signal
import sys
import time
from pathlib import Path

from .scratch import Mutation, Scratch, test_programs

RESULT = re.compile(r"^\s*\d+/\d+\s+Test\s+#\d+:\s+(\S+)\s+\.*\s*(.*?)\s+([\d.]+)\s+sec\s*$")
START = re.compile(r"^\s*Start\s+\d+:\s+(\S+)\s*$")


def parse_ctest(text):
    """The tests a ctest log shows started, in order, and name -> (passed,
    seconds, timed out) of those it shows finished."""
    started, results = [], {}
    for line in text.splitlines():
        m = START.match(line)
        if m:
            started.append(m.group(1))
            continue
        m = RESULT.match(line)
        if m:
            results[m.group(1)] = (m.group(2).strip() == "Passed", float(m.group(3)), "Timeout" in m.group(2))
    return started, results


def exact_regex(names):
    """A ctest -R expression matching exactly these test names."""
    return "^(" + "|".join(re.sub(r"([\\^$.|?*+()\[\]{}])", r"\\\1", n) for n in sorted(names)) + ")$"


def ctest_argv(build, selection_filter, timeout, stop=True):
    return (["ctest", "--test-dir", str(build), "--timeout", str(int(timeout)), "-j", "2", "--output-on-failure"]
            + (["--stop-on-failure"] if stop else []) + selection_filter)


BUILD_KILL = "build:"
NOT_RUN = (False, 0.0, False)


class BudgetSpent(Exception):
    """The budget ended before the mutants: what was under way."""


def judge(mutants, confirmation):
    """Settles killed and timed-out mutants by the unmutated re-run of their
    tests (name -> (passed, seconds)): a kill counts when one of its killing
    tests passes there; a time-out when every test it left running passes
    there within a third of its limit.  Anything else is "unconfirmed",
    which counts as not killed."""
    for m in mutants:
        if m.status == "killed":
            if any(k.startswith(BUILD_KILL) for k in m.killers):
                continue  # the unmutated programs built and listed their tests
            if not any(confirmation.get(k, NOT_RUN)[0] for k in m.killers):
                m.status = "unconfirmed"
                m.note = ("its tests (%s) fail unmutated too" % ", ".join(m.killers) if m.killers
                          else "no failed test named in the log")
        elif m.status == "timeout":
            slow = [k for k in m.killers if not confirmation.get(k, NOT_RUN)[0]
                    or confirmation[k][1] > m.limit / 3]
            if not m.killers or slow:
                m.status = "unconfirmed"
                m.note = ("time-out: %s not within a third of the %.0f s limit unmutated" % (", ".join(slow), m.limit)
                          if slow else "time-out with no test running")


class Run:
    def __init__(self, args, root, judges, selected, out=sys.stdout, t0=None):
        self.args = args
        self.root = root
        self.judges = judges
        self.selected = selected
        self.out = out
        self.scratch = Scratch(root, args.scratch.resolve(), args.jobs)
        self.logs = self.scratch.base / "logs"
        self.programs, self.baselines, self.test_limits = {}, {}, {}
        self.timing = {}
        self.interrupted = False
        self.deadline = None
        self.t0 = t0  # when the run began: its budget counts from there

    def say(self, text):
        self.out.write(text + "\n")
        self.out.flush()

    def selection(self, m):
        return self.judges.selection[m.file]

    def first_build(self, selections):
        """Only the programs the label sets need, as the reference build's
        discovered tests name them; everything when it has none."""
        targets = set()
        reference = self.args.reference
        known = self.scratch.all_programs()
        for selection in selections:
            names, _ = test_programs(reference, selection) if reference else ([], 0)
            if not names:
                return []
            targets.update(names)
            targets.update("test_" + label for label in selection.labels if "test_" + label in known)
        return sorted(targets & known) or []

    def prepare(self):
        scratch = self.scratch
        fresh = not (scratch.build / "build.ninja").exists()
        changed = scratch.sync()
        scratch.configure()
        selections = {self.selection(m) for m in self.selected if m.status != "allowed" and self.selection(m).labels}
        targets = self.first_build(selections)
        self.say("scratch tree %s: %d files synced; building %s%s" % (
            scratch.src, changed, "the test programs " + " ".join(targets) if targets else "everything",
            " (first run)" if fresh else ""))
        status, seconds = scratch.ninja(targets, self.logs / "build-all.log", self.left(1800))
        if status is None and self.deadline is not None:
            raise BudgetSpent("the scratch tree's build (%.0f s; the next run goes on with it)" % seconds)
        if status != 0:
            sys.exit("the unmutated tree does not build: see %s" % (self.logs / "build-all.log"))
        self.timing["build_all_seconds"] = round(seconds, 1)
        self.say("build: %.1f s" % seconds)
        # The unmutated run of each selection: it must pass, and it sets the
        # time-out of the mutants judged by it.
        for selection in sorted(selections, key=str):
            self.programs[selection], count = scratch.programs(selection, self.test_limits)
            if not count:
                sys.exit("%s: no test has the labels %s" % (self.judges.map_path.name, selection))
            # A failure here is no mutant's: once more, then give up.
            for attempt in (1, 2):
                log = self.logs / ("unmutated-%d-%d.log" % (len(self.baselines), attempt))
                status, seconds = scratch.run(ctest_argv(scratch.build, selection.ctest_filter(), 600), log,
                                              self.left(1800))
                if status == 0:
                    break
                if status is None and self.deadline is not None:
                    raise BudgetSpent("the unmutated tests of %s" % selection)
                _, results = parse_ctest(log.read_text(errors="replace"))
                failed = sorted(name for name, (passed, _, _) in results.items() if not passed)
                self.say("unmutated %s failed (attempt %d): %s; see %s" % (
                    selection, attempt, ", ".join(failed) or "no test named", log))
            if status != 0:
                sys.exit("the unmutated tests fail: fix them before judging mutants by them")
            self.baselines[selection] = seconds
            self.say("unmutated %-44s %3d tests %6.1f s" % (selection, count, seconds))

    def try_mutant(self, m, mutation, index):
        scratch = self.scratch
        selection = self.selection(m)
        mutation.write(m.apply(mutation.text))
        log = self.logs / ("mutant-%d.log" % index)
        # No objects: nothing the run built includes the file (ninja without
        # targets would build everything).
        if mutation.objects:
            status, _ = scratch.ninja(mutation.objects, log, 1800)
            if status != 0:
                m.status = "nobuild"
                return
        if not selection.labels:
            m.status, m.note = "survived", "no test sees this file"
            return
        if not mutation.objects:
            m.status, m.note = "survived", "no test program of its labels builds this file"
            return
        status, _ = scratch.ninja(self.programs[selection], log, 1800)
        if status != 0:
            failed = re.findall(r"FAILED: (\S+)", Path(log).read_text(errors="replace"))
            m.status, m.note = "killed", "a test program failed as it was built"
            m.killers = [BUILD_KILL + (failed[0] if failed else "?")]
            return
        m.limit = self.baselines[selection] * self.args.timeout_factor + self.args.timeout_margin
        # A hanging mutant must not carry the run past its budget: its tests
        # get what the budget leaves, and one stopped short of its own limit
        # was not judged.
        allowed = m.limit
        if self.deadline is not None:
            allowed = min(m.limit, self.deadline - time.monotonic() - self.confirmation_estimate())
            if allowed <= 0:
                m.status, m.note = "notrun", "the budget ended before its tests"
                return
        status, _ = scratch.run(ctest_argv(scratch.build, selection.ctest_filter(), m.limit), log, allowed)
        if status is None and allowed < m.limit:
            m.status, m.note = "notrun", "the budget ended during its tests (%.0f s of its %.0f s)" % (allowed,
                                                                                                        m.limit)
            return
        started, results = parse_ctest(Path(log).read_text(errors="replace"))
        failed = [name for name, (passed, _, _) in results.items() if not passed]
        hung = [name for name in failed if results[name][2]]
        if status is None:
            m.status = "timeout"
            m.killers = [name for name in started if name not in results]
        elif status == 0:
            m.status = "survived"
        elif hung and len(hung) == len(failed):
            # A test's own time-out: the same condition, against its own limit.
            m.status, m.killers = "timeout", hung
            m.limit = min(self.test_limits.get(name, m.limit) for name in hung)
        else:
            m.status = "killed"
            m.killers = [name for name in failed if name not in hung]
            m.note = "by " + ", ".join(m.killers)

    def mutate(self):
        """Each mutant in turn; with a budget, none starts once the time
        left would not hold it and the confirmation."""
        per_set = collections.defaultdict(list)
        deadline = self.deadline
        mutation = None
        spent = []
        try:
            for index, m in enumerate(self.selected, 1):
                if m.status == "allowed":
                    self.say("%-8s %s  -- %s" % ("allowed", m.ident(), m.note))
                    continue
                if deadline is not None:
                    typical = sum(spent) / len(spent) if spent else 0.0
                    if time.monotonic() + typical + self.confirmation_estimate() > deadline:
                        m.status = "notrun"
                        continue
                if mutation is None or mutation.rel != m.file:
                    if mutation:
                        mutation.restore()
                    mutation = Mutation(self.scratch, m.file)
                started = time.monotonic()
                self.try_mutant(m, mutation, index)
                m.seconds = time.monotonic() - started
                spent.append(m.seconds)
                if m.status != "nobuild":
                    per_set[str(self.selection(m)) or "(none)"].append(m.seconds)
                self.say("%-8s %s  [%d/%d %.0fs]%s" % (m.status, m.ident(), index, len(self.selected), m.seconds,
                                                      "  " + m.note if m.note else ""))
        finally:
            self.scratch.kill_child()
            if mutation:
                mutation.restore()
        self.timing["per_mutant_seconds"] = {k: round(sum(v) / len(v), 1) for k, v in sorted(per_set.items())}
        self.timing["unmutated_seconds"] = {str(k): round(v, 1) for k, v in self.baselines.items()}

    def left(self, default):
        """Seconds the budget leaves, or default without one."""
        return default if self.deadline is None else max(0.0, self.deadline - time.monotonic())

    def confirmation_estimate(self):
        sets = {self.selection(m) for m in self.selected if m.status in ("killed", "timeout")}
        return sum(self.baselines.get(s, 0.0) for s in sets) + 30.0

    def confirm(self):
        """The tests that killed something, once more on the unmutated tree."""
        names = sorted({k for m in self.selected if m.status in ("killed", "timeout") for k in m.killers
                        if not k.startswith(BUILD_KILL)})
        confirmation = {}
        if names:
            programs = sorted({p for m in self.selected if m.status in ("killed", "timeout")
                               for p in self.programs.get(self.selection(m), ())})
            log = self.logs / "confirmation.log"
            status, _ = self.scratch.ninja(programs, log, 1800)
            if status != 0:
                sys.exit("the unmutated test programs do not build again: see %s" % log)
            started = time.monotonic()
            status, _ = self.scratch.run(ctest_argv(self.scratch.build, ["-R", exact_regex(names)], 600, stop=False),
                                         log, 3600)
            _, confirmation = parse_ctest(Path(log).read_text(errors="replace"))
            self.timing["confirmation_seconds"] = round(time.monotonic() - started, 1)
            failing = sorted(n for n in names if not confirmation.get(n, NOT_RUN)[0])
            self.say("confirmation: %d killing tests run again unmutated, %d fail there%s" % (
                len(names), len(failing), ": " + ", ".join(failing) if failing else ""))
        judge(self.selected, confirmation)

    def execute(self):
        self.t0 = self.t0 or time.monotonic()
        self.deadline = self.t0 + self.args.budget if self.args.budget else None
        self.scratch.lock()
        shutil.rmtree(self.logs, ignore_errors=True)
        self.logs.mkdir(parents=True)

        def on_term(signum, frame):
            raise KeyboardInterrupt

        signal.signal(signal.SIGTERM, on_term)
        try:
            self.prepare()
            self.mutate()
            self.confirm()
        except BudgetSpent as spent:
            for m in self.selected:
                if not m.status:
                    m.status, m.note = "notrun", "the budget ended during %s" % spent
            self.say("the budget ended during %s: no mutant was judged" % spent)
        except KeyboardInterrupt:
            self.interrupted = True
            self.say("\ninterrupted: the scratch tree is restored")
        finally:
            self.scratch.kill_child()
        self.timing["total_seconds"] = round(time.monotonic() - self.t0, 1)
