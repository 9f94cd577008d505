"""Every mutant of one file, and the files there are."""

import collections

from .operators import GENERATORS, Source

PRODUCT_DIRS = ("api", "loader", "board", "sim")
SUFFIXES = (".cpp", ".h")


def product_files(root):
    """The product's sources and its own headers, by directory."""
    files = []
    for top in PRODUCT_DIRS:
        for path in sorted((root / top).rglob("*")):
            if path.suffix in SUFFIXES and path.is_file():
                files.append(path.relative_to(root).as_posix())
    return files


def is_header(rel):
    return rel.endswith(".h")


def generate(rel, text, ops=None):
    """Every mutant of one source file, in a stable order; `occurrence`
    numbers identical changes on identical lines."""
    src = Source(rel, text)
    out = []
    for gen in GENERATORS:
        gen(src, out)
    if ops is not None:
        out = [m for m in out if m.op in ops]
    out.sort(key=lambda mu: (mu.start, mu.end, mu.op, mu.replacement))
    seen = collections.Counter()
    for mu in out:
        base = (mu.op, mu.line_text, mu.before, mu.after)
        seen[base] += 1
        mu.occurrence = seen[base]
    return out
