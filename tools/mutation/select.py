"""Which mutants a run takes: a seeded sample, a seeded order, the lines
changed since a commit."""

import hashlib
import re
import subprocess
import sys


def rank(seed, name):
    return hashlib.sha256(("%d|%s" % (seed, name)).encode()).hexdigest()


def choose(mutants_by_file, sample, seed, per_file_min, name=str):
    """A seeded sample spread over the files: per_file_min from each file
    first (fewer when the sample cannot hold them), the rest from all.
    Each mutant's place in the draw comes from a hash of the seed and its
    name, so a change to one file leaves the others' picks as they were."""
    pools = {f: sorted(ms, key=lambda m: rank(seed, name(m))) for f, ms in sorted(mutants_by_file.items()) if ms}
    if not pools:
        return []
    floor = min(per_file_min, sample // len(pools))
    picked, rest = [], []
    for pool in pools.values():
        picked += pool[:floor]
        rest += pool[floor:]
    return picked + sorted(rest, key=lambda m: rank(seed, name(m)))[:max(0, sample - len(picked))]


def shuffled(mutants, seed, name=str):
    """The seeded order of a run that may be cut short: any prefix of it is
    a fair sample of the whole."""
    return sorted(mutants, key=lambda m: rank(seed, name(m)))


HUNK = re.compile(r"^@@ -\d+(?:,\d+)? \+(\d+)(?:,(\d+))? @@", re.M)


def changed_lines(diff_text):
    """file -> set of line numbers (of the new side) that a unified diff
    with no context (-U0) adds or changes."""
    result, current = {}, None
    for line in diff_text.splitlines():
        if line.startswith("+++ "):
            path = line[4:].strip()
            current = path[2:] if path.startswith("b/") else None
            continue
        m = HUNK.match(line)
        if m and current:
            start, count = int(m.group(1)), int(m.group(2) if m.group(2) is not None else 1)
            result.setdefault(current, set()).update(range(start, start + count))
    return result


def diff_since(root, base):
    """The lines of the working tree changed since the commit base."""
    result = subprocess.run(["git", "-C", str(root), "diff", "-U0", "--no-color", "--no-ext-diff", base, "--"],
                            capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("git diff %s: %s" % (base, result.stderr.strip()))
    return changed_lines(result.stdout)


def touches(mutant, text, lines):
    first, last = mutant.lines(text)
    return any(n in lines for n in range(first, last + 1))
