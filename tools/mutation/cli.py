"""The command: tools/mutate."""

import argparse
import collections
import json
import os
import re
import sys
import time
from pathlib import Path

from . import report
from .families import Judges, read_allow
from .generate import PRODUCT_DIRS, generate, product_files
from .operators import OPERATORS
from .run import Run
from .select import choose, diff_since, shuffled, touches

TOOL_DIR = Path(__file__).resolve().parent.parent
ROOT = TOOL_DIR.parent
MAP_FILE = TOOL_DIR / "mutate.map"
ALLOW_FILE = TOOL_DIR / "mutate.allow"


def parser():
    p = argparse.ArgumentParser(
        prog="tools/mutate",
        description="Mutation testing of the product (%s, their .cpp files and the project's own headers): each "
                    "mutant is built in a scratch copy of this checkout and judged by the ctest labels that "
                    "tools/mutate.map gives its file (a header: those of every file including it)."
                    % ", ".join(d + "/" for d in PRODUCT_DIRS))
    p.add_argument("files", nargs="*", help="product files to mutate (default: all)")
    p.add_argument("--all", action="store_true", help="every mutant of the files chosen, no sample (the default "
                   "without --sample)")
    p.add_argument("--family", metavar="F", action="append",
                   help="only the files of this family of tools/mutate.map (repeatable)")
    p.add_argument("--diff", metavar="BASE",
                   help="every mutant of the lines changed since the commit BASE (working files included)")
    p.add_argument("--list", action="store_true", help="print the mutants without running them")
    p.add_argument("--sample", type=int, metavar="N", help="run a seeded sample of N mutants")
    p.add_argument("--seed", type=int, default=1, help="seed of the sample and of a budgeted order (default 1)")
    p.add_argument("--per-file-min", type=int, default=5, metavar="M",
                   help="mutants each file gets first in a sample, when N allows (default 5)")
    p.add_argument("--operators", metavar="OPS", help="comma-separated operators (default all: %s)"
                   % ",".join(OPERATORS))
    p.add_argument("--replay", metavar="FILE", action="append",
                   help="only the mutants an earlier --json result lists as killed (repeatable): "
                        "a trimmed suite must still kill them")
    p.add_argument("--match", metavar="REGEX",
                   help="only the mutants whose printed form (without the line number) matches REGEX")
    p.add_argument("--add-labels", metavar="LABELS",
                   help="comma-separated labels added to every file's tests for this run (e.g. faults)")
    p.add_argument("--budget", type=float, metavar="SECONDS",
                   help="wall-clock limit of the whole run, build and confirmation included: the mutants run in a "
                        "seeded shuffle, and those the time does not reach are reported as not run")
    p.add_argument("--timeout-factor", type=float, default=3.0,
                   help="a mutant's tests time out at this many times the unmutated run (default 3)")
    p.add_argument("--timeout-margin", type=float, default=30.0, metavar="S",
                   help="seconds added to that time-out (default 30)")
    p.add_argument("--jobs", type=int, default=2, help="build jobs (default 2)")
    p.add_argument("--scratch", type=Path, default=ROOT / "build" / "mutate",
                   help="scratch directory (default build/mutate of this checkout)")
    p.add_argument("--reference", type=Path, default=ROOT / "build" / "default",
                   help="a built tree whose discovered tests tell which programs the label sets need, so that the "
                        "scratch tree builds only those (default build/default; without one it builds everything)")
    p.add_argument("--json", type=Path, metavar="FILE", help="write every result to FILE")
    p.add_argument("--fail-under", type=float, metavar="PCT",
                   help="exit 1 when a mutant survives (or its kill is unconfirmed) and the score is below PCT")
    p.add_argument("--min-judged", type=int, default=0, metavar="N",
                   help="with --fail-under, a score over fewer than N judged mutants does not fail (it is told)")
    p.add_argument("--table-from", type=Path, metavar="FILE", nargs="+",
                   help="print the table of an earlier --json result under the current allow-list; of several, "
                        "one line each")
    p.add_argument("--markdown", action="store_true", help="print the tables as the documentation holds them")
    p.add_argument("--update-doc", type=Path, metavar="DOC",
                   help="rewrite the recorded runs' tables of DOC (between its markers) from docs/mutation/*.json "
                        "under the current allow-list")
    return p


def relative(f):
    if os.path.isabs(f) or os.path.exists(f):
        return Path(os.path.abspath(f)).relative_to(ROOT).as_posix()
    return f


def main(argv=None):
    started = time.monotonic()
    args = parser().parse_args(argv)
    allowed = read_allow(ALLOW_FILE)
    all_files = product_files(ROOT)
    if args.update_doc:
        records = sorted((ROOT / "docs" / "mutation").glob("*.json"))
        if not report.update_doc(args.update_doc, records, all_files, allowed):
            sys.exit("%s: no block between %s and %s" % (args.update_doc, report.BEGIN, report.END))
        return 0
    if args.table_from:
        return report.table_from(args.table_from, all_files, allowed, args.markdown)

    judges = Judges(ROOT, MAP_FILE, all_files, args.add_labels.split(",") if args.add_labels else ())
    if judges.missing:
        sys.exit("%s: no entry for %s" % (MAP_FILE.name, ", ".join(judges.missing)))
    files = all_files
    if args.files:
        chosen = [relative(f) for f in args.files]
        for f, rel in zip(args.files, chosen):
            if rel not in all_files:
                sys.exit("%s: not a product source file or header (under %s)" % (f, ", ".join(PRODUCT_DIRS)))
        files = sorted(set(chosen), key=all_files.index)
    if args.family:
        unknown = set(args.family) - set(judges.families())
        if unknown:
            sys.exit("unknown family %s; the map has: %s" % (", ".join(sorted(unknown)), " ".join(judges.families())))
        files = [f for f in files if judges.family[f] in args.family]
    ops = set(OPERATORS)
    if args.operators:
        ops = set(args.operators.split(","))
        if not ops <= set(OPERATORS):
            sys.exit("unknown operator: %s" % ", ".join(sorted(ops - set(OPERATORS))))

    texts = {name: (ROOT / name).read_text() for name in files}
    by_file = {name: generate(name, texts[name]) for name in files}
    known = {m.key() for ms in by_file.values() for m in ms}
    for key, (number, _) in sorted(allowed.items(), key=lambda kv: kv[1][0]):
        if key[0] in by_file and key not in known:
            print("note: %s:%d matches no mutant (stale entry?)" % (ALLOW_FILE.name, number))
    for name in files:
        by_file[name] = [m for m in by_file[name] if m.op in ops
                         and (not args.match or re.search(args.match, m.ident(with_line=False)))]
    if args.diff:
        changed = diff_since(ROOT, args.diff)
        by_file = {name: [m for m in ms if touches(m, texts[name], changed.get(name, ()))]
                   for name, ms in by_file.items()}
    if args.replay:
        wanted = {tuple(e["key"]) for path in args.replay for e in json.loads(Path(path).read_text())["mutants"]
                  if e["status"] == "killed"}
        by_file = {name: [m for m in ms if m.key() in wanted] for name, ms in by_file.items()}
    every = [m for name in files for m in by_file[name]]
    name = lambda m: m.ident(with_line=False)  # noqa: E731
    selected = choose(by_file, args.sample, args.seed, args.per_file_min, name=name) if args.sample else every
    if args.budget:
        selected = shuffled(selected, args.seed, name=name)
    else:
        selected.sort(key=lambda m: (files.index(m.file), m.start, m.op, m.replacement))
    for m in selected:
        if m.key() in allowed:
            m.status = "allowed"
            m.note = allowed[m.key()][1]

    if args.list:
        return list_mutants(selected, every, files, by_file, judges)
    tree = report.head_commit(ROOT)
    extra = {"base": args.diff, "interrupted": False, "budget": args.budget}
    if not selected:
        print("no mutants to run" + (" on the lines changed since %s" % args.diff if args.diff else ""))
        if args.json:  # a record all the same: the stage ran, and found nothing to judge
            report.write_json(args.json, tree, [], report.counts([]), {}, extra)
        return 0

    run = Run(args, ROOT, judges, selected, t0=started)
    run.execute()
    done = [m for m in selected if m.status]
    print()
    total = report.report_table(done, files, sys.stdout)
    print("score: %s (killed + timed out over mutants less did-not-build, allowed and not run; an unconfirmed "
          "kill is no kill)" % report.score_text(total))
    report.by_operator(done, sys.stdout)
    if run.timing.get("per_mutant_seconds"):
        print("seconds per mutant by label set: " + ", ".join(
            "%s %.1f" % kv for kv in run.timing["per_mutant_seconds"].items()))
    print("total: %.0f s" % run.timing["total_seconds"])
    if args.json:
        extra["interrupted"] = run.interrupted
        report.write_json(args.json, tree, done, total, run.timing, extra)
    if run.interrupted:
        return 130
    if args.fail_under is not None and report.judged(total) < args.min_judged:
        print("the budget judged %d mutants, fewer than the %d a score needs: not gated" %
              (report.judged(total), args.min_judged))
    return 1 if report.fails(total, args.fail_under, args.min_judged) else 0


def list_mutants(selected, every, files, by_file, judges):
    for m in selected:
        print("%-8s %s" % (m.status or "", m.ident()))
    per_file = collections.Counter(m.file for m in selected)
    per_op = collections.Counter(m.op for m in selected)
    print("%d mutants of %d generated in %d files" % (len(selected), len(every), len(per_file)))
    for name in files:
        if by_file[name]:
            print("  %-40s %4d of %4d  %-11s tests: %s" % (name, per_file[name], len(by_file[name]),
                                                         judges.family[name], str(judges.selection[name]) or "(none)"))
    print("by operator: " + ", ".join("%s %d" % kv for kv in sorted(per_op.items())))
    return 0
