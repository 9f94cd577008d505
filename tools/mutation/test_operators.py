"""What each operator makes, and where none makes anything."""

import unittest

from mutation.generate import generate


def changes(source, op, rel="api/X.cpp"):
    return [(m.before, m.after, m.line) for m in generate(rel, source) if m.op == op]


PLAIN = ("int f(int a, int b)\n"  # 1
         "{\n"
         "    if (a <= b && b != 3)\n"
         "        return API_ERR_INVALID_PARAMETERS;\n"
         "    g(a);\n"  # 5
         "    return API_ERR_NONE;\n"
         "}\n")

# Operator, source, every change it makes there: (before, after, line).
CASES = [
    ("ROR", PLAIN, [("<=", "<", 3), ("!=", "==", 3)]),
    ("LOG", PLAIN, [("&&", "||", 3)]),
    # Swapping one of a chain would mix && and || unparenthesised: no build.
    ("LOG", "bool f() { return a && b && (c || d); }\n", [("||", "&&", 1)]),
    ("LIT", PLAIN, [("3", "4", 3), ("3", "2", 3)]),
    ("NEG", PLAIN, [("(a <= b && b != 3)", "(!(a <= b && b != 3))", 3)]),
    ("RET", PLAIN, [("API_ERR_INVALID_PARAMETERS", "API_ERR_NONE", 4), ("API_ERR_NONE", "API_ERR_UNKNOWN_CODE", 6)]),
    ("DEL", PLAIN, [("g(a);", "(void)0;", 5)]),
    # Binary operators only, told from unary and declarators by their blanks.
    ("AOR", "int f(int *p, int n)\n{\n    n += -n * *p % 4 - 1;\n    return n / 2 + p[n - 1];\n}\n",
     [("+=", "-=", 3), ("*", "/", 3), ("%", "/", 3), ("-", "+", 3), ("/", "*", 4), ("+", "-", 4), ("-", "+", 4)]),
    ("BOR", "unsigned f(unsigned a)\n{\n    a ^= a & 0x0F | 1;\n    return a ^ ~a && &a;\n}\n",
     [("^=", "&=", 3), ("&", "|", 3), ("|", "&", 3), ("^", "&", 4)]),
    # A text or a stream on one side: no shift, no sum.
    ("SOR", 'void f() {\n    x = a << 2 >> b;\n    out << a << "z";\n    s = t + "u";\n}\n',
     [("<<", ">>", 2), (">>", "<<", 2)]),
    ("FLT", "float f() { return 100.0f * .5 + 1e3 + 2.; }\n", [("100.0", "101.0", 1), ("100.0", "99.0", 1),
                                                            (".5", "1.5", 1), ("2.", "3.", 1), ("2.", "1.", 1)]),
    ("CHR", "void f() { a = '\\0'; b = 'x'; c = '\\n'; d = ' '; }\n",
     [("'\\0'", "'\\x01'", 1), ("'x'", "'y'", 1), ("'\\n'", "'\\r'", 1), ("' '", "'!'", 1)]),
    ("BOL", "bool f() { g(true); return false; }\n", [("true", "false", 1), ("false", "true", 1)]),
    # Commands, with their conversions; a message is no command.
    ("STR", 'void f() {\n    send(p ? "AT+WIPCLOSE=1,1\\r" : "+++");\n    g("a message, not a command");\n'
            '    s("SET BT NAME %s", n);\n    open("ttyUSB2");\n    art("##..#");\n}\n',
     [("E", "F", 2), ("1", "2", 2), ("+", ",", 2), ("E", "F", 4), ("2", "3", 5), ("B", "C", 5)]),
    ("FMT", 'void f() { s("AT+X=%d,%02X,%s,%*d,%p\\r", a, b, c, 4, d, p); m("got %d", e); }\n',
     [("%d", "%2d", 1), ("%02X", "%X", 1), ("%s", "%.1s", 1)]),
    # Messages: the first letter changed, and the text cut after its last
    # conversion, never to nothing; asserts keep theirs.
    ("MSG", 'void f() {\n    printf("Radio powered off\\n");\n    DebugPrintf(1, "Open %s failed\\n", s);\n'
            '    printf("%d", n);\n    assert(x && "never");\n    static_assert(N > 1, "too few");\n}\n',
     [("R", "S", 2), ("ered off\\n", "", 2), ("O", "P", 3), ("failed\\n", "", 3)]),
    ("TAB", "const BaudRate s_RATES[] = {{1200, B1200}, {2400, B2400}};\n",
     [("B1200", "B2400", 1), ("B2400", "B1200", 1)]),
    # Assignments and increments, also in a lambda's body; no declaration,
    # no enumerator, no loop header.
    ("ASG", "enum { A = 1 };\nvoid f(int *p) {\n    int n = 0;\n    *p = 2;\n    s.x[1] |= 4;\n"
            "    for (i = 0; i < 3; ++i)\n        ++n;\n    run([&] { n--; });\n}\n",
     [("*p = 2;", "(void)0;", 4), ("s.x[1] |= 4;", "(void)0;", 5), ("++n;", "(void)0;", 7),
      ("n--;", "(void)0;", 8)]),
    # Not where control goes anyway: the end of a function, of a loop body,
    # a break before the next case (which would not build either).
    ("JMP", "int f(int a) {\n    for (;;) {\n        if (a)\n            continue;\n        if (g())\n"
            "            break;\n        continue;\n    }\n    switch (a) {\n    case 1: h(); break;\n"
            "    case 2: if (a) { return 2; } break;\n    }\n    return 0;\n}\n",
     [("continue;", "(void)0;", 4), ("break;", "(void)0;", 6), ("return 2;", "(void)0;", 11)]),
    ("DEL", "void f() {\n    pthread_mutex_lock(&m);\n    s_task.Stop([] { s_ring.Wake(); });\n"
            "    pthread_mutex_unlock(&m);\n}\n",
     [("s_task.Stop([] { s_ring.Wake(); });", "(void)0;", 3), ("s_ring.Wake();", "(void)0;", 3)]),
    # One unlock at a time, named by its function, its place and its path.
    ("UNL", "int API_X_Get(int a)\n{\n    pthread_mutex_lock(&m);\n    if (a) {\n"
            "        pthread_mutex_unlock(&m);\n        return API_ERR_X;\n    }\n    pthread_mutex_unlock(&m);\n}\n",
     [("pthread_mutex_unlock(&m);", "(void)0; /* API_X_Get: unlock 1 of 2, before return API_ERR_X; */", 5),
      ("pthread_mutex_unlock(&m);", "(void)0; /* API_X_Get: unlock 2 of 2, at the end of the function */", 8)]),
]


class Operators(unittest.TestCase):
    def test_each_operator_makes_exactly_its_changes(self):
        for op, source, expected in CASES:
            with self.subTest(op=op, source=source):
                self.assertEqual(sorted(changes(source, op)), sorted(expected))

    def test_nothing_in_comments_directives_messages_or_array_bounds(self):
        src = ('#include <a.h>\n'
               '#if N > 1\n'
               '// if (a == 1) g(2);\n'
               '/* return API_ERR_NONE; */\n'
               'void f() {\n'
               '    printf("level %d < %d\\n", 4, 5 + 1);\n'
               '    char buffer[16] = {0}; char command[N * 32];\n'
               '}\n'
               '#endif\n')
        self.assertEqual([(m.op, m.line) for m in generate("api/X.cpp", src) if m.op != "MSG"], [("AOR", 7)])

    def test_a_constant_of_a_header_is_code(self):
        src = ('#ifndef X_H\n#define X_H\n#define PORT "/dev/ttyS5"\n#define SIZE (COUNT * 256)\n'
               'constexpr unsigned char PMU_CMD_ON = 0xC3;\n#endif\n')
        got = {(m.op, m.before, m.after) for m in generate("api/internal/X.h", src)}
        self.assertEqual(got, {("STR", "5", "6"), ("STR", "S", "T"), ("AOR", "*", "/"), ("LIT", "256", "257"),
                               ("LIT", "256", "255"), ("LIT", "0xC3", "0xC4"), ("LIT", "0xC3", "0xC2")})

    def test_templates_are_no_comparisons(self):
        src = ("int f(long y, int n) {\n"
               "    std::atomic<int (*)(int)> p{nullptr};\n"
               "    return n < 2 ? static_cast<int>(y) : static_cast<unsigned char>(n);\n"
               "}\n")
        self.assertEqual([(c[0], c[1]) for c in changes(src, "ROR")], [("<", "<=")])

    def test_mutant_is_the_source_with_that_change_and_its_name_survives_moved_lines(self):
        for m in generate("api/X.cpp", PLAIN):
            self.assertEqual(m.apply(PLAIN), PLAIN[:m.start] + m.replacement + PLAIN[m.end:])
        moved = "// a new first line\n\n" + PLAIN
        self.assertEqual([m.key() for m in generate("api/X.cpp", PLAIN)],
                         [m.key() for m in generate("api/X.cpp", moved)])
        twice = "void f() {\n    if (a > 1)\n        g();\n    if (a > 1)\n        g();\n}\n"
        keys = [m.key() for m in generate("api/X.cpp", twice)]
        self.assertEqual(len(keys), len(set(keys)))
        self.assertIn("DEL#2", [m.ident().split()[1] for m in generate("api/X.cpp", twice)])


if __name__ == "__main__":
    unittest.main()
