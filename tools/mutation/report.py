"""Scores, tables and the JSON record of a run."""

import collections
import datetime
import io
import json
import re
import shlex
import subprocess
import sys
from pathlib import Path

# Column, and its heading in the documentation's tables.
STATUSES = (("killed", "Killed"), ("survived", "Survived"), ("timeout", "Timed out"),
            ("unconfirmed", "Unconfirmed"), ("nobuild", "Did not build"), ("allowed", "Allowed"),
            ("notrun", "Not run"))


def score(c):
    """Killed and timed out over the mutants that were judged: not those
    that did not build, are allowed, or were not run.  An unconfirmed kill
    counts as none."""
    return None if judged(c) <= 0 else 100.0 * (c["killed"] + c["timeout"]) / judged(c)


def judged(c):
    return c["mutants"] - c["nobuild"] - c["allowed"] - c["notrun"]


def fails(c, fail_under, min_judged=0):
    """Whether a run fails its --fail-under gate: something got through, the
    score is below the gate, and enough mutants were judged for a score (a
    budget that reached a handful says little either way)."""
    failing = c["survived"] + c["unconfirmed"]
    return (fail_under is not None and failing > 0 and judged(c) >= min_judged
            and (score(c) or 0.0) < fail_under)


def score_text(c):
    s = score(c)
    return "-" if s is None else "%.1f%%" % s


def counts(mutants):
    c = collections.Counter(m.status for m in mutants)
    c["mutants"] = len(mutants)
    return c


def rows(mutants, files):
    result, total = [], collections.Counter()
    for name in files:
        mine = [m for m in mutants if m.file == name]
        if mine:
            c = counts(mine)
            total.update(c)
            result.append((name, c))
    return result, total


def report_table(mutants, files, out, markdown=False):
    table, total = rows(mutants, files)
    if markdown:
        out.write("| File | Mutants | %s | Score |\n" % " | ".join(h for _, h in STATUSES))
        out.write("|---|" + "---:|" * (len(STATUSES) + 2) + "\n")
        for name, c in table + [("**total**", total)]:
            label = name if name.startswith("**") else "`%s`" % name
            out.write("| %s | %d | %s | %s |\n" % (label, c["mutants"], " | ".join(str(c[s]) for s, _ in STATUSES),
                                                  score_text(c)))
        return total
    header = "%-36s %7s %6s %8s %8s %11s %7s %7s %6s %6s" % (
        "file", "mutants", "killed", "survived", "timedout", "unconfirmed", "nobuild", "allowed", "notrun", "score")
    out.write(header + "\n" + "-" * len(header) + "\n")
    for name, c in table + [("total", total)]:
        out.write("%-36s %7d %6d %8d %8d %11d %7d %7d %6d %6s\n" % (
            name, c["mutants"], c["killed"], c["survived"], c["timeout"], c["unconfirmed"], c["nobuild"],
            c["allowed"], c["notrun"], score_text(c)))
    return total


def by_operator(mutants, out):
    c = collections.defaultdict(collections.Counter)
    for m in mutants:
        c[m.op][m.status] += 1
        c[m.op]["mutants"] += 1
    out.write("by operator: " + ", ".join("%s %s of %d" % (op, score_text(c[op]), c[op]["mutants"])
                                          for op in sorted(c)) + "\n")


def head_commit(root):
    def git(*argv):
        return subprocess.run(["git", "-C", str(root)] + list(argv), capture_output=True, text=True).stdout.strip()
    # Documents do not change what a run judges.
    return git("rev-parse", "HEAD"), bool(git("status", "--porcelain", "--untracked-files=no", "--", ".",
                                              ":(exclude)docs", ":(exclude)*.md"))


def write_json(path, tree, mutants, total, timing, extra):
    """tree: the commit the run started on and whether it had changes."""
    commit, dirty = tree
    record = {"command": sys.argv, "commit": commit, "dirty": dirty,
              "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ"),
              "mutants": [{"id": m.ident(with_line=False), "key": list(m.key()), "line": m.line, "status": m.status,
                           "seconds": round(m.seconds, 1), "note": m.note, "killers": m.killers}
                          for m in mutants],
              "counts": {k: v for k, v in sorted(total.items())}, "score": score(total), "timing": timing}
    record.update(extra)
    Path(path).write_text(json.dumps(record, indent=1) + "\n")


class Recorded:
    """A mutant as an earlier run's --json file holds it."""

    def __init__(self, entry):
        self.file = entry["key"][0]
        self.op = entry["key"][1]
        self.key_tuple = tuple(entry["key"])
        self.status = entry["status"]
        self.id = entry["id"]

    def key(self):
        return self.key_tuple


def load(path, allowed):
    """The mutants of a recorded run, judged under today's allow-list: a
    survivor allowed since counts as allowed."""
    result = json.loads(Path(path).read_text())
    mutants = [Recorded(entry) for entry in result["mutants"]]
    for m in mutants:
        if m.key() in allowed and m.status == "survived":
            m.status = "allowed"
    return result, mutants


def table_from(paths, files, allowed, markdown, out=sys.stdout):
    """One run: its table by file.  Several: one line each."""
    if len(paths) == 1:
        result, mutants = load(paths[0], allowed)
        known = [f for f in files if any(m.file == f for m in mutants)]
        known += sorted({m.file for m in mutants} - set(known))
        total = report_table(mutants, known, out, markdown)
        out.write("%sscore: %s at %s\n" % ("\n" if markdown else "", score_text(total), result.get("commit", "?")[:10]))
        return 0
    heads = ("Run", "Commit", "Mutants") + tuple(h for _, h in STATUSES) + ("Score", "Time")
    if markdown:
        out.write("| " + " | ".join(heads) + " |\n|---|---|" + "---:|" * (len(heads) - 2) + "\n")
    for path in paths:
        result, mutants = load(path, allowed)
        c = counts(mutants)
        cells = ("`%s`" % Path(path).name if markdown else Path(path).name, result.get("commit", "?")[:10],
                 str(c["mutants"])) + tuple(str(c[s]) for s, _ in STATUSES) + (
            score_text(c), "%.0f min" % (result.get("timing", {}).get("total_seconds", 0) / 60.0))
        out.write(("| " + " | ".join(cells) + " |" if markdown else "  ".join(cells)) + "\n")
    return 0


BEGIN = "<!-- recorded runs: generated, see above -->"
END = "<!-- end of recorded runs -->"


def title(path):
    m = re.fullmatch(r"family-(\w+)-[0-9a-f]+", Path(path).stem)
    return "The %s family" % m.group(1) if m else Path(path).stem


def recorded_block(paths, files, allowed):
    """The documentation's tables of every recorded run: one line each,
    then each run's table by file with the command that made it."""
    out = io.StringIO()
    out.write("%s\nEvery recorded run, one line each:\n\n```sh\ntools/mutate --table-from docs/mutation/*.json "
              "--markdown\n```\n\n" % BEGIN)
    table_from(paths, files, allowed, True, out)
    for path in paths:
        command = json.loads(Path(path).read_text()).get("command", [])
        out.write("\n#### %s\n\n```sh\n%s\ntools/mutate --table-from docs/mutation/%s --markdown\n```\n\n"
                  % (title(path), " ".join(shlex.quote(a) for a in command), Path(path).name))
        table_from([path], files, allowed, True, out)
    out.write("\n" + END)
    return out.getvalue()


def update_doc(doc, paths, files, allowed):
    """Replaces the generated block of doc; False when it has none."""
    text = Path(doc).read_text()
    a, b = text.find(BEGIN), text.find(END)
    if a < 0 or b < a:
        return False
    Path(doc).write_text(text[:a] + recorded_block(paths, files, allowed) + text[b + len(END):])
    return True
