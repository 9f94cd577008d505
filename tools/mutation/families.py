"""What judges each file: the map's labels and families, the include graph
that gives a header the tests of every file including it, and the
allow-list of mutants that change nothing observable."""

import fnmatch
import json
import re
import sys
from pathlib import PurePosixPath

from .generate import is_header


class Selection:
    """The tests that judge a file's mutants: labels, less excluded labels
    and excluded test names."""

    def __init__(self, labels, excluded=(), names_out=()):
        self.labels = tuple(sorted(set(labels)))
        self.excluded = tuple(sorted(set(excluded)))
        self.names_out = tuple(sorted(set(names_out)))

    def key(self):
        return (self.labels, self.excluded, self.names_out)

    def __eq__(self, other):
        return self.key() == other.key()

    def __hash__(self):
        return hash(self.key())

    def __str__(self):
        return " ".join(self.labels + tuple("!" + e for e in self.excluded) + tuple("~" + n for n in self.names_out))

    def ctest_filter(self):
        argv = ["-L", label_regex(self.labels)]
        if self.excluded:
            argv += ["-LE", label_regex(self.excluded)]
        if self.names_out:
            argv += ["-E", "|".join("(%s)" % n for n in self.names_out)]
        return argv

    def union(self, other):
        """Both files' tests: every label of either, leaving out only what
        both leave out."""
        return Selection(self.labels + other.labels, set(self.excluded) & set(other.excluded),
                         set(self.names_out) & set(other.names_out))


def label_regex(names):
    return "^(" + "|".join(re.escape(n) for n in sorted(names)) + ")$"


class Entry:
    def __init__(self, pattern, selection, family, number):
        self.pattern, self.selection, self.family, self.number = pattern, selection, family, number


def read_map(path):
    """The entries of the map, in order: `[family]` starts a family;
    `file: label ...` (a file or a glob) names the labels of the tests that
    see it, `!label` a label left out, `~regex` test names left out."""
    entries, family = [], None
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        section = re.fullmatch(r"\[([a-z0-9_]+)\]", line)
        if section:
            family = section.group(1)
            continue
        if ":" not in line:
            sys.exit("%s:%d: expected 'file: label ...' or '[family]'" % (path, number))
        if family is None:
            sys.exit("%s:%d: a file before the first [family]" % (path, number))
        name, labels = line.split(":", 1)
        words = labels.split()
        selection = Selection([w for w in words if w[0] not in "!~"], [w[1:] for w in words if w[0] == "!"],
                              [w[1:] for w in words if w[0] == "~"])
        entries.append(Entry(name.strip(), selection, family, number))
    return entries


def entry_of(entries, rel):
    """A file's own entry (an exact one before any glob), or None."""
    for entry in entries:
        if entry.pattern == rel:
            return entry
    for entry in entries:
        if fnmatch.fnmatchcase(rel, entry.pattern):
            return entry
    return None


# Where a quoted include is looked for after the including file's own
# directory: the include paths the build gives the product.
INCLUDE_DIRS = ("api", "api/include", "api/internal", "board/include", "sim/include", "loader")
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)


def include_graph(root, files):
    """file -> the product files it includes directly."""
    known = set(files)
    graph = {}
    for rel in files:
        found = set()
        for name in INCLUDE.findall((root / rel).read_text(errors="replace")):
            for base in (str(PurePosixPath(rel).parent),) + INCLUDE_DIRS:
                candidate = str(PurePosixPath(base) / name)
                if candidate in known:
                    found.add(candidate)
                    break
        graph[rel] = found
    return graph


def includers(graph):
    """header -> the sources (.cpp) that include it, directly or through
    other headers."""
    result = {}
    for source in graph:
        if is_header(source):
            continue
        seen, pending = set(), list(graph[source])
        while pending:
            header = pending.pop()
            if header in seen:
                continue
            seen.add(header)
            pending.extend(graph.get(header, ()))
        for header in seen:
            result.setdefault(header, set()).add(source)
    return result


class Judges:
    """Each product file's family and selection."""

    def __init__(self, root, map_path, files, extra_labels=()):
        self.entries = read_map(map_path)
        self.map_path = map_path
        self.family, self.selection, self.missing = {}, {}, []
        graph = include_graph(root, files)
        users = includers(graph)
        own = {}
        for rel in files:
            entry = entry_of(self.entries, rel)
            if entry is None:
                self.missing.append(rel)
                continue
            self.family[rel] = entry.family
            own[rel] = entry.selection
        for rel in files:
            if rel not in own:
                continue
            selection = own[rel]
            if is_header(rel):
                merged = None
                for source in sorted(users.get(rel, ())):
                    if source in own and own[source].labels:
                        merged = own[source] if merged is None else merged.union(own[source])
                if merged:
                    selection = Selection(merged.labels + selection.labels, merged.excluded + selection.excluded,
                                          merged.names_out + selection.names_out)
            if selection.labels and extra_labels:
                selection = Selection(selection.labels + tuple(extra_labels), selection.excluded,
                                      selection.names_out)
            self.selection[rel] = selection
        self.includers = users

    def families(self):
        return sorted(set(self.family.values()))


ALLOW_LINE = re.compile(r'^(\S+)\s+([A-Z]+)(?:#(\d+))?\s+("(?:[^"\\]|\\.)*")\s+("(?:[^"\\]|\\.)*")\s+->\s+'
                        r'("(?:[^"\\]|\\.)*")\s+--\s+(\S.*)$')


def read_allow(path):
    """key -> (line number, reason)."""
    allowed = {}
    if not path.exists():
        return allowed
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        m = ALLOW_LINE.match(line)
        if not m:
            sys.exit("%s:%d: expected: file OP \"line\" \"before\" -> \"after\" -- reason" % (path, number))
        key = (m.group(1), m.group(2), int(m.group(3) or 1), json.loads(m.group(4)), json.loads(m.group(5)),
               json.loads(m.group(6)))
        allowed[key] = (number, m.group(7))
    return allowed
