"""Which mutants a run takes, and which tests judge them."""

import tempfile
import unittest
from pathlib import Path

from mutation.families import Judges, read_allow
from mutation.generate import generate, product_files
from mutation.select import changed_lines, choose, shuffled, touches


class Selection(unittest.TestCase):
    def test_sample_spreads_over_files_and_stays_put(self):
        files = {"f%d" % i: ["f%d-%d" % (i, k) for k in range(3 + 20 * (i % 2))] for i in range(10)}
        picked = choose(files, 60, seed=7, per_file_min=5)
        self.assertEqual(len(set(picked)), 60)
        for name, pool in files.items():
            self.assertGreaterEqual(sum(p.startswith(name + "-") for p in picked), min(5, len(pool)))
        # A new mutant in one file moves at most one pick of the others.
        files["f0"] = files["f0"] + ["f0-new"]
        others = lambda ps: {p for p in ps if not p.startswith("f0-")}  # noqa: E731
        self.assertLessEqual(len(others(picked) ^ others(choose(files, 60, seed=7, per_file_min=5))), 1)
        # A budgeted order is the same for the same seed, another for another.
        names = [n for pool in files.values() for n in pool]
        self.assertEqual(shuffled(names, 3), shuffled(list(reversed(names)), 3))
        self.assertNotEqual(shuffled(names, 3), shuffled(names, 4))

    def test_diff_gives_the_changed_lines_and_their_mutants(self):
        diff = ("diff --git a/api/X.cpp b/api/X.cpp\n--- a/api/X.cpp\n+++ b/api/X.cpp\n"
                "@@ -3 +3 @@ int f()\n-    return 1;\n+    return 2;\n@@ -9,0 +10,2 @@\n+a\n+b\n@@ -20,3 +21,0 @@\n"
                "diff --git a/docs/gone.md b/docs/gone.md\n--- a/docs/gone.md\n+++ /dev/null\n@@ -1 +0,0 @@\n")
        self.assertEqual(changed_lines(diff), {"api/X.cpp": {3, 10, 11}})
        src = "int f()\n{\n    if (a == 1 &&\n        b == 2)\n        return 0;\n}\n"
        hit = [(m.op, m.before) for m in generate("api/X.cpp", src) if touches(m, src, {4})]
        # The condition spans lines 3 and 4: negating it touches line 4.
        self.assertEqual(sorted(hit), [("LIT", "2"), ("LIT", "2"), ("NEG", "(a == 1 && b == 2)"), ("ROR", "==")])


class Judging(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = Path(self.dir.name)
        for rel, text in {"api/A.cpp": '#include "internal/B.h"\n', "api/C.cpp": '#include "API_D.h"\n',
                          "api/internal/B.h": '#include "API_D.h"\n', "api/include/API_D.h": "",
                          "loader/main.cpp": '#include "API_D.h"\n', "sim/e.cpp": "", "api/E.cpp": ""}.items():
            (self.root / rel).parent.mkdir(parents=True, exist_ok=True)
            (self.root / rel).write_text(text)
        self.map = self.root / "map"

    def tearDown(self):
        self.dir.cleanup()

    def test_families_globs_and_headers_taking_their_includers_tests(self):
        self.map.write_text("[one]  # comment\napi/A.cpp: a !slow\napi/C.cpp: c !slow ~Flaky\napi/*.h: extra\n"
                            "api/*.cpp: x\n[two]\nloader/main.cpp:\napi/internal/B.h: b\n")
        judges = Judges(self.root, self.map, product_files(self.root), extra_labels=("faults",))
        self.assertEqual(judges.missing, ["sim/e.cpp"])
        self.assertEqual(judges.families(), ["one", "two"])
        self.assertEqual(judges.family["api/internal/B.h"], "two")
        self.assertEqual(str(judges.selection["api/E.cpp"]), "faults x")
        self.assertEqual(str(judges.selection["loader/main.cpp"]), "")
        # B.h: its own label and A's, which includes it; API_D.h: A's (through
        # B.h) and C's, not main's (no tests); only what both leave out.
        self.assertEqual(str(judges.selection["api/internal/B.h"]), "a b faults !slow")
        self.assertEqual(str(judges.selection["api/include/API_D.h"]), "a c extra faults !slow")

    def test_allow_list_names_mutants(self):
        m = next(m for m in generate("api/X.cpp", 'void f() { if (a == "x"[0]) g(); }\n') if m.op == "ROR")
        self.map.write_text("# comment\n" + m.ident(with_line=False) + " -- equivalent: the reason\n")
        self.assertEqual(read_allow(self.map), {m.key(): (2, "equivalent: the reason")})


if __name__ == "__main__":
    unittest.main()
