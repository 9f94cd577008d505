"""Self-check of the mutant generation of tools/mutate:
python3 -m unittest discover -s tools -p 'test_mutate.py'"""

import importlib.machinery
import importlib.util
import unittest
from pathlib import Path

_loader = importlib.machinery.SourceFileLoader("mutate", str(Path(__file__).with_name("mutate")))
_spec = importlib.util.spec_from_loader("mutate", _loader)
mutate = importlib.util.module_from_spec(_spec)
_loader.exec_module(mutate)


def changes(source, op=None):
    return [(m.op, m.before, m.after, m.line) for m in mutate.generate("api/X.cpp", source)
            if op is None or m.op == op]


class Generation(unittest.TestCase):
    def test_operators_on_plain_code(self):
        src = ("int f(int a, int b)\n"
               "{\n"
               "    if (a <= b && b != 3)\n"
               "        return API_ERR_INVALID_PARAMETERS;\n"
               "    g(a);\n"
               "    return API_ERR_NONE;\n"
               "}\n")
        got = changes(src)
        self.assertIn(("ROR", "<=", "<", 3), got)
        self.assertIn(("ROR", "!=", "==", 3), got)
        self.assertIn(("LOG", "&&", "||", 3), got)
        self.assertIn(("LIT", "3", "2", 3), got)
        self.assertIn(("LIT", "3", "4", 3), got)
        self.assertIn(("NEG", "(a <= b && b != 3)", "(!(a <= b && b != 3))", 3), got)
        self.assertIn(("RET", "API_ERR_INVALID_PARAMETERS", "API_ERR_NONE", 4), got)
        self.assertIn(("RET", "API_ERR_NONE", "API_ERR_UNKNOWN_CODE", 6), got)
        self.assertIn(("DEL", "g(a);", "(void)0;", 5), got)
        # Swapping one of a chain would mix && and || unparenthesised: no build.
        self.assertEqual(changes("bool f() { return a && b && (c || d); }\n", "LOG"),
                         [("LOG", "||", "&&", 1)])
        # The mutant text is the source with exactly that change.
        m = next(m for m in mutate.generate("api/X.cpp", src) if m.op == "DEL")
        self.assertEqual(m.apply(src), src.replace("g(a);", "(void)0;"))

    def test_nothing_in_comments_strings_directives_messages(self):
        src = ('#include <a.h>\n'
               '#define N 3\n'
               '// if (a == 1) g(2);\n'
               '/* return API_ERR_NONE; */\n'
               'void f() {\n'
               '    printf("level %d < %d\\n", 4, 5);\n'
               '    DebugPrintf(1, "x");\n'
               '    char buffer[16] = {0}; char command[N + 32];\n'
               '    h(s_Text("a < b == c"));\n'
               '    pthread_mutex_lock(&m);\n'
               '}\n')
        got = changes(src)
        self.assertEqual([c for c in got if c[3] != 9], [])
        self.assertEqual(changes(src, "DEL"), [("DEL", 'h(s_Text("a < b == c"));', "(void)0;", 9)])

    def test_templates_are_no_comparisons(self):
        src = ("int f(long y, int n) {\n"
               "    std::atomic<int (*)(int)> p{nullptr};\n"
               "    return n < 2 ? static_cast<int>(y) : static_cast<unsigned char>(n);\n"
               "}\n")
        self.assertEqual([(c[1], c[2]) for c in changes(src, "ROR")], [("<", "<=")])

    def test_command_texts_and_tables(self):
        src = ('const BaudRate s_RATES[] = {{1200, B1200}, {2400, B2400}};\n'
               'void f() {\n'
               '    send(p == 1 ? "AT+WIPCLOSE=1,1\\r" : "+++");\n'
               '    printf("AT+NOT=1");\n'
               '    g("a message, not a command");\n'
               '    art("##..#");\n'
               '}\n')
        self.assertIn(("TAB", "B1200", "B2400", 1), changes(src))
        self.assertIn(("TAB", "B2400", "B1200", 1), changes(src))
        strs = [(c[1], c[2]) for c in changes(src, "STR")]
        self.assertEqual(strs, [("E", "F"), ("1", "2"), ("+", ",")])  # the "r" of \\r is no letter

    def test_identity_survives_moved_lines(self):
        src = "void f() {\n    if (a > 1)\n        g();\n}\n"
        moved = "// a new first line\n\n" + src
        a = [m.key() for m in mutate.generate("api/X.cpp", src)]
        b = [m.key() for m in mutate.generate("api/X.cpp", moved)]
        self.assertEqual(a, b)
        twice = "void f() {\n    if (a > 1)\n        g();\n    if (a > 1)\n        g();\n}\n"
        keys = [m.key() for m in mutate.generate("api/X.cpp", twice)]
        self.assertEqual(len(keys), len(set(keys)))

    def test_allow_line_names_a_mutant(self):
        m = next(m for m in mutate.generate("api/X.cpp", 'void f() { if (a == "x"[0]) g(); }\n')
                 if m.op == "ROR")
        line = m.ident(with_line=False) + " -- equivalent: the reason"
        path = Path(self.id() + ".allow")
        try:
            path.write_text("# comment\n" + line + "\n")
            self.assertEqual(mutate.read_allow(path), {m.key(): (2, "equivalent: the reason")})
        finally:
            path.unlink()

    def test_sample_spreads_over_files(self):
        files = {"f%d" % i: ["f%d-%d" % (i, k) for k in range(3 + 20 * (i % 2))] for i in range(10)}
        picked = mutate.choose(files, 60, seed=7, per_file_min=5)
        self.assertEqual(len(picked), 60)
        self.assertEqual(len(set(picked)), 60)
        for name, pool in files.items():
            self.assertGreaterEqual(sum(p.startswith(name + "-") for p in picked), min(5, len(pool)))
        self.assertEqual(picked, mutate.choose(files, 60, seed=7, per_file_min=5))
        # A new mutant in one file moves at most one pick of the others.
        files["f0"] = files["f0"] + ["f0-new"]
        again = mutate.choose(files, 60, seed=7, per_file_min=5)
        others = lambda ps: {p for p in ps if not p.startswith("f0-")}
        self.assertLessEqual(len(others(picked) ^ others(again)), 1)


if __name__ == "__main__":
    unittest.main()
