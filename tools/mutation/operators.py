"""What each operator changes.  Every generator takes a Source and appends
Mutants; none of them looks at another file."""

import bisect
import json
import re

from .scan import Code, Masked, in_spans, squeeze, statement_end

OPERATORS = {
    "ROR": "comparison or equality operator flipped",
    "LOG": "&& and || swapped",
    "AOR": "arithmetic operator replaced: + and -, * and /, % by /",
    "BOR": "bitwise operator replaced: & and |, ^ by &",
    "SOR": "shift turned the other way",
    "LIT": "integer literal moved by one",
    "FLT": "floating literal moved by one",
    "CHR": "character literal changed",
    "BOL": "true and false swapped",
    "STR": "a byte of a command or table text changed",
    "FMT": "a conversion of a command text's format changed",
    "MSG": "a message or error text: one byte changed, or the text cut",
    "TAB": "a table entry replaced by its neighbour",
    "DEL": "call statement deleted",
    "ASG": "assignment or increment statement deleted",
    "JMP": "return, break or continue deleted",
    "UNL": "one unlock deleted, naming its path",
    "RET": "returned error code replaced",
    "NEG": "condition negated",
}

# Calls whose statements only print or check: their literals are messages
# (MSG changes their texts), and nothing else in them is mutated.
LOG_CALLS = (r"(?:std::)?(?:printf|fprintf|vprintf|vfprintf|puts|fputs|perror|fflush|DebugPrintf|DumpString"
             r"|DumpStringLog)")
CHECK_CALLS = r"(?:assert|static_assert)"
# Deleting a lock gives a race no test can tell from a slow machine; unlocks
# are UNL's, one path at a time; so is a cancellation state.  Deleting va_end
# is undefined, not observable.
NO_DELETE = {"pthread_mutex_lock", "pthread_mutex_unlock", "pthread_rwlock_unlock", "pthread_spin_unlock",
             "pthread_setcancelstate", "va_start", "va_end", "va_copy"}
UNLOCK = re.compile(r"(?:pthread_(?:mutex|rwlock|spin)_unlock\s*\(|[A-Za-z_]\w*\s*(?:\.|->)\s*unlock\s*\(\s*\))")
KEYWORDS = {"if", "while", "for", "switch", "return", "sizeof", "case", "do", "else", "new", "delete",
            "catch", "throw", "static_cast", "reinterpret_cast", "const_cast", "decltype", "alignof",
            "defined", "template", "typename", "using", "namespace", "break", "continue", "goto", "default"}
SHELL_WORDS = ("insmod ", "rmmod ", "modprobe ", "mount ", "umount ", "losetup ")
REMOVED = "(void)0;"


class Mutant:
    __slots__ = ("file", "start", "end", "replacement", "op", "line", "line_text", "before", "after",
                 "occurrence", "status", "seconds", "note", "killers", "limit")

    def __init__(self, file, start, end, replacement, op, line, line_text, before):
        self.file = file
        self.start, self.end = start, end
        self.replacement = replacement
        self.op = op
        self.line = line
        self.line_text = line_text
        self.before = before
        self.after = squeeze(replacement)
        self.occurrence = 1
        self.status = None
        self.seconds = 0.0
        self.note = ""
        self.killers = []
        self.limit = 0.0

    def key(self):
        return (self.file, self.op, self.occurrence, self.line_text, self.before, self.after)

    def ident(self, with_line=True):
        where = "%s:%d" % (self.file, self.line) if with_line else self.file
        op = self.op if self.occurrence == 1 else "%s#%d" % (self.op, self.occurrence)
        return "%s %s %s %s -> %s" % (where, op, json.dumps(self.line_text), json.dumps(self.before),
                                      json.dumps(self.after))

    def apply(self, text):
        return text[:self.start] + self.replacement + text[self.end:]

    def lines(self, text):
        """First and last line the change touches."""
        return self.line, self.line + text.count("\n", self.start, self.end)


class Source:
    """One file as the generators see it."""

    def __init__(self, rel, text):
        self.rel = rel
        self.text = text
        m = Masked(text)
        self.masked = m.code
        self.strings = m.strings
        self.chars = m.chars
        self.defines = m.defines
        self.code = Code(self.masked)
        self.line_starts = [0] + [k + 1 for k, ch in enumerate(text) if ch == "\n"]
        self.logs = call_spans(self.code, LOG_CALLS)
        self.checks = call_spans(self.code, CHECK_CALLS)
        linkage = [(x.start(), x.end() + 2) for x in re.finditer(r'\bextern\s+"', self.masked)]
        linkage += [(x.start(), self.code.partner[x.end() - 1] + 1)
                    for x in re.finditer(r"\b(?:__attribute__|asm|__asm__|_Pragma)\s*\(", self.masked)]
        # Spans where no operator but MSG makes a mutant.
        self.bad = self.logs + self.checks + linkage
        self.quiet = self.checks + linkage

    def mutant(self, start, end, replacement, op):
        index = bisect.bisect_right(self.line_starts, start) - 1
        bol = self.line_starts[index]
        eol = self.text.find("\n", bol)
        line_text = squeeze(self.text[bol:eol if eol >= 0 else len(self.text)])
        return Mutant(self.rel, start, end, replacement, op, index + 1, line_text, squeeze(self.text[start:end]))

    def statement_starts(self):
        """Offsets where a statement of a function body starts (lambda
        bodies included, #define values not)."""
        for m in re.finditer(r"(?m)(?:^|(?<=[;{}:)]))[ \t]*(?=[*A-Za-z_+-])", self.masked):
            pos = m.end()
            if pos >= len(self.masked) or self.code.depth[pos] != 0 or in_spans(pos, self.bad) \
                    or in_spans(pos, self.defines):
                continue
            if self.code.brace[pos] >= 0 and self.code.at_statement_start(pos):
                yield pos


def call_spans(code, names):
    spans = []
    for m in re.finditer(r"(?<![\w.>:])" + names + r"\s*\(", code.masked):
        ch, p = code.last_before(m.start())
        if p >= 0 and ch not in ";{}):=?,(" and code.word_before(m.start())[0] not in ("else", "return"):
            continue  # a definition or declaration of the function
        spans.append((m.start(), statement_end(code.masked, m.start())))
    return spans


# ------------------------------------------------------------ operators ----

def template_brackets(code):
    """Offsets of '<' and '>' that open and close template arguments."""
    masked = code.masked
    marks = set()
    for m in re.finditer(r"(\b(?:template|[A-Za-z_]\w*))\s*<(?![<=])", masked):
        lt = m.end() - 1
        depth, k = 0, lt
        limit = min(len(masked), lt + 160)
        close = -1
        while k < limit:
            ch = masked[k]
            if ch == "<":
                depth += 1
            elif ch == ">":
                if masked[k - 1] == "-":
                    break
                depth -= 1
                if depth == 0:
                    close = k
                    break
            elif ch in ";{}" or masked.startswith("&&", k) or masked.startswith("||", k) \
                    or ch in "=!?+/%|^":
                break
            elif ch == "(":
                k2 = code.partner[k]
                if k2 < 0 or k2 > limit:
                    break
                k = k2
            elif ch == ")":
                break
            k += 1
        if close < 0:
            continue
        inner = masked[lt + 1:close]
        if m.group(1) != "template" and not re.fullmatch(r"[\w\s:,*&<>()\[\]]*", inner):
            continue
        marks.add(lt)
        marks.add(close)
    return marks


ROR_FLIP = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">"}


def mixes_logic(masked, start, end):
    """Whether another && or || shares the operand group of the one at
    start: swapping it would mix the two unparenthesised, which the build
    refuses (-Wparentheses)."""
    for step, k, inward, outward in ((-1, start - 1, ")", "("), (1, end, "(", ")")):
        depth = 0
        while 0 <= k < len(masked):
            ch = masked[k]
            if ch == inward:
                depth += 1
            elif ch == outward:
                if depth == 0:
                    break
                depth -= 1
            elif depth == 0:
                if masked[k:k + 2] in ("&&", "||") or masked[k - 1:k + 1] in ("&&", "||"):
                    return True
                assignment = ch == "=" and masked[k - 1] not in "=!<>" and masked[k + 1] != "="
                if ch in ";{}?:," or assignment:
                    break
            k += step
    return False


def gen_ror_log(src, out):
    masked = src.masked
    tmpl = template_brackets(src.code)
    for m in re.finditer(r"<<=|>>=|<=>|<<|>>|->|<=|>=|==|!=|&&|\|\||<|>", masked):
        tok, pos = m.group(0), m.start()
        if in_spans(pos, src.bad) or pos in tmpl:
            continue
        if re.search(r"\boperator\s*$", masked[max(0, pos - 20):pos]):
            continue
        if tok in ROR_FLIP:
            out.append(src.mutant(pos, m.end(), ROR_FLIP[tok], "ROR"))
        elif tok in ("&&", "||"):
            # "T&& x" declares a reference, no operator.
            if tok == "&&" and re.match(r"\s*[A-Za-z_]\w*\s*[,)=]", masked[m.end():]) \
                    and re.search(r"\b(?:auto|[A-Z]\w*|int|char)\s*$", masked[max(0, pos - 40):pos]):
                continue
            if mixes_logic(masked, pos, m.end()):
                continue
            out.append(src.mutant(pos, m.end(), "||" if tok == "&&" else "&&", "LOG"))


BINARY = {
    "AOR": {"+": "-", "-": "+", "*": "/", "/": "*", "%": "/", "+=": "-=", "-=": "+=", "*=": "/=", "/=": "*=",
            "%=": "/="},
    "BOR": {"&": "|", "|": "&", "^": "&", "&=": "|=", "|=": "&=", "^=": "&="},
    "SOR": {"<<": ">>", ">>": "<<", "<<=": ">>=", ">>=": "<<="},
}


def is_text_operand(code, pos, end):
    """Whether the operator between pos and end joins a text: a literal
    next to it, or a stream on its left.  Text has no arithmetic or shift
    of its own; the mutant would not build."""
    ch, p = code.last_before(pos)
    after = code.masked[end:end + 40].lstrip()[:1]
    if ch in "\"')" and ch != ")" or after in "\"'":
        return True
    word, at = code.word_before(pos)
    return re.fullmatch(r"(?:\w*(?:out|os|stream|ss|contents|cerr|clog))", word) is not None


def gen_binary(src, out):
    """Arithmetic, bitwise and shift operators.  The code's format puts
    blanks around every binary operator and none after a unary one (`-x`,
    `*p`, `&x`, `char *p`), which tells the two apart."""
    masked = src.masked
    for m in re.finditer(r"(?<=\s)(<<=|>>=|<<|>>|[-+*/%&|^]=?)(?=\s)", masked):
        tok, pos = m.group(1), m.start(1)
        if in_spans(pos, src.bad) or re.search(r"\boperator\s*$", masked[max(0, pos - 20):pos]):
            continue
        if tok in ("+", "+=", "<<", ">>") and is_text_operand(src.code, pos, m.end(1)):
            continue
        for op, table in BINARY.items():
            if tok in table:
                out.append(src.mutant(pos, m.end(1), table[tok], op))


DECL_BEFORE_BRACKET = re.compile(
    r"(?:\b(?:char|int|short|long|unsigned|signed|bool|float|double|auto|size_t|ssize_t|\w+_t|[A-Z]\w*)"
    r"\s*[*&]?\s*|\bconst\s+)[A-Za-z_]\w*\s*$")


def is_array_bound(masked, start, end):
    """Literal within a declared array's bound: one more byte of buffer
    changes nothing, and one less only what a test of its overflow would
    see, which a literal elsewhere shows better."""
    depth, k = 0, start - 1
    bol = masked.rfind("\n", 0, start) + 1
    while k >= bol:
        if masked[k] == "]":
            depth += 1
        elif masked[k] == "[":
            if depth == 0:
                break
            depth -= 1
        k -= 1
    if k < bol:
        return False
    while k > bol and masked[k - 1] == "]":
        k = masked.rfind("[", bol, k - 1)
    return DECL_BEFORE_BRACKET.search(masked[bol:k]) is not None


def in_zero_fill(masked, start):
    """A 0 inside an all-zero brace initialiser such as {0} or {0, 0, 0}."""
    a = masked.rfind("{", 0, start)
    b = masked.find("}", start)
    if a < 0 or b < 0:
        return False
    return re.fullmatch(r"[\s0,]*", masked[a + 1:b]) is not None


def gen_lit(src, out):
    masked = src.masked
    for m in re.finditer(r"(?<![\w.'])(0[xX][0-9A-Fa-f]+|[0-9]+)([uUlL]*)(?![\w.'])", masked):
        pos = m.start()
        if in_spans(pos, src.bad):
            continue
        digits = m.group(1)
        if len(digits) > 1 and digits[0] == "0" and digits[1] not in "xX":
            continue  # octal: none in this code base worth the care
        if is_array_bound(masked, m.start(), m.end()):
            continue
        value = int(digits, 0)
        if value == 0 and in_zero_fill(masked, pos):
            continue
        for new in (value + 1, value - 1):
            if new < 0 or value in (0xFF, 0xFFFF, 0xFFFFFFFF) and new > value:
                continue  # all ones of a byte or word: one more does not fit it
            if digits[:2] in ("0x", "0X"):
                body = "%0*x" % (len(digits) - 2, new)
                if any(ch.isupper() for ch in digits[2:]):
                    body = body.upper()
                lit = digits[:2] + body
            else:
                lit = str(new)
            out.append(src.mutant(pos, m.end(1), lit, "LIT"))


def gen_flt(src, out):
    pattern = r"(?<![\w.])(\d+\.\d*|\.\d+)((?:[eE][+-]?\d+)?[fFlL]?)(?![\w.])"
    for m in re.finditer(pattern, src.masked):
        if in_spans(m.start(), src.bad):
            continue
        mantissa = m.group(1)
        decimals = len(mantissa.split(".", 1)[1])
        value = float(mantissa)
        for new in (value + 1, value - 1):
            if new < 0:
                continue
            lit = "%.*f" % (decimals, new) + ("." if decimals == 0 else "")
            out.append(src.mutant(m.start(1), m.end(1), lit, "FLT"))


CHAR_SWAP = {"\\n": "\\r", "\\r": "\\n", "\\t": " ", "\\0": "\\x01", "\\\\": "/", "\\'": '"', '\\"': "\\'"}


def changed_char(body):
    """The character literal body one step away, or None."""
    if body in CHAR_SWAP:
        return CHAR_SWAP[body]
    m = re.fullmatch(r"\\x([0-9A-Fa-f]{1,2})", body)
    if m:
        return "\\x%02x" % ((int(m.group(1), 16) + 1) % 256)
    m = re.fullmatch(r"\\([0-7]{1,3})", body)
    if m:
        return "\\%03o" % ((int(m.group(1), 8) + 1) % 256)
    if len(body) != 1 or body == "\\":
        return None
    new = chr(ord(body) + 1)
    if new in "'\\" or not new.isprintable():
        new = chr(ord(body) - 1)
    return new


def gen_chr(src, out):
    for a, b in src.chars:
        if in_spans(a, src.bad) or src.text[a - 1:a].isalnum():
            continue
        new = changed_char(src.text[a + 1:b - 1])
        if new is not None:
            out.append(src.mutant(a, b, "'%s'" % new, "CHR"))


def gen_bol(src, out):
    for m in re.finditer(r"\b(true|false)\b", src.masked):
        if not in_spans(m.start(), src.bad):
            out.append(src.mutant(m.start(), m.end(), "false" if m.group(1) == "true" else "true", "BOL"))


# ---------------------------------------------------------------- texts ----

CONVERSION = re.compile(r"%[-+ #0]*(\d+|\*)?(\.(?:\d+|\*))?(hh|h|ll|l|z|j|t|L)?([diouxXcsfFeEgGaAp])")


def text_units(body):
    """The units of a literal's body: (kind, start, end) with kind "plain",
    "escape" or "conversion" (a printf conversion; "%%" is plain)."""
    units, k = [], 0
    while k < len(body):
        if body[k] == "\\":
            if body[k + 1:k + 2] == "x":
                j = k + 2
                while j < len(body) and body[j] in "0123456789abcdefABCDEF":
                    j += 1
            elif body[k + 1:k + 2] in tuple("01234567"):
                j = k + 2
                while j < len(body) and body[j] in "01234567" and j < k + 4:
                    j += 1
            else:
                j = k + 2
            units.append(("escape", k, j))
            k = j
            continue
        if body.startswith("%%", k):
            units.append(("plain", k, k + 2))
            k += 2
            continue
        m = CONVERSION.match(body, k)
        if m:
            units.append(("conversion", k, m.end()))
            k = m.end()
            continue
        units.append(("plain", k, k + 1))
        k += 1
    return units


def plain_text(body):
    return "".join(body[a:b] for kind, a, b in text_units(body) if kind == "plain")


def is_command_text(body):
    """Texts that are commands, answers, table keys or device paths, also
    with printf conversions in them, not messages."""
    bare = "".join(body[a:b] for kind, a, b in text_units(body) if kind != "conversion")
    plain = plain_text(body)
    if not plain.strip() or re.fullmatch(r"[#.]+", plain):
        return False  # glyph art, or nothing but conversions and escapes
    if bare.startswith(("AT", "+")) or bare.startswith(SHELL_WORDS) or bare.startswith("/"):
        return True
    if re.fullmatch(r"[a-z][A-Za-z0-9_]*", bare):
        return True  # configuration keys, device names
    return not re.search(r"[a-z]", plain) and re.search(r"[A-Z0-9+]", plain) is not None


def is_glyph_art(body):
    return re.fullmatch(r"[#.]+", body) is not None


def bump(ch):
    """One character one step away, staying a printable, plain one."""
    if ch.isdigit():
        return str((int(ch) + 1) % 10)
    if ch.isalpha():
        return chr(ord(ch) - 1) if ch in "zZ" else chr(ord(ch) + 1)
    new = chr(ord(ch) + 1)
    return "_" if new in "\"\\%" or not new.isprintable() else new


def gen_str(src, out):
    for a, b in src.strings:
        if in_spans(a, src.bad):
            continue
        body = src.text[a + 1:b - 1]
        if not is_command_text(body):
            continue
        plain = [u[1] for u in text_units(body) if u[0] == "plain" and body[u[1]] != "%"]
        if not plain:
            continue
        chosen = []
        digit = next((k for k in plain if body[k].isdigit()), None)
        letter = next((k for k in reversed(plain) if body[k].isalpha()), None)
        for k in (digit, letter):
            if k is not None and k not in chosen:
                chosen.append(k)
        if not chosen:
            chosen.append(plain[0])
        for k in chosen:
            out.append(src.mutant(a + 1 + k, a + 2 + k, bump(body[k]), "STR"))


def changed_conversion(conv):
    m = CONVERSION.fullmatch(conv)
    flags_width = conv[1:m.start(3) if m.group(3) else m.start(4)]
    if "*" in conv:
        return None  # the width is an argument: another form would not build
    if flags_width:
        return "%" + (m.group(3) or "") + m.group(4)
    if m.group(4) == "s":
        return "%.1s"
    if m.group(4) in "fFeEgGaA":
        return "%.1" + (m.group(3) or "") + m.group(4)
    if m.group(4) == "p":
        return None
    return "%2" + (m.group(3) or "") + m.group(4)


def gen_fmt(src, out):
    for a, b in src.strings:
        if in_spans(a, src.bad):
            continue
        body = src.text[a + 1:b - 1]
        if not is_command_text(body):
            continue
        for kind, s, e in text_units(body):
            new = changed_conversion(body[s:e]) if kind == "conversion" else None
            if new:
                out.append(src.mutant(a + 1 + s, a + 1 + e, new, "FMT"))


def gen_msg(src, out):
    """Messages and error texts: the first letter (or digit) changed, and
    the text cut to its first half, never within or before its last
    conversion and never to nothing."""
    for a, b in src.strings:
        if in_spans(a, src.quiet):
            continue
        body = src.text[a + 1:b - 1]
        if not body or is_command_text(body) or is_glyph_art(body):
            continue
        units = text_units(body)
        plain = [s for kind, s, e in units if kind == "plain" and body[s] != "%"]
        k = next((s for s in plain if body[s].isalpha()), next((s for s in plain if body[s].isdigit()), None))
        if k is not None:
            out.append(src.mutant(a + 1 + k, a + 2 + k, bump(body[k]), "MSG"))
        last = max([i + 1 for i, u in enumerate(units) if u[0] == "conversion"] + [len(units) // 2, 1])
        if last < len(units):
            out.append(src.mutant(a + 1 + units[last][1], b - 1, "", "MSG"))


def gen_tab(src, out):
    masked = src.masked
    for m in re.finditer(r"\[[^\]\n;]*\]\s*=\s*\{", masked):
        open_pos = m.end() - 1
        close = src.code.partner[open_pos]
        if close < 0 or in_spans(open_pos, src.bad):
            continue
        tokens = list(re.finditer(r"\b(?:B\d+|[A-Z][A-Z0-9]*_[A-Z0-9_]+)\b", masked[open_pos:close]))
        names = []
        for t in tokens:
            if t.group(0) not in names:
                names.append(t.group(0))
        if len(names) < 2:
            continue
        for t in tokens:
            i = names.index(t.group(0))
            repl = names[i + 1] if i + 1 < len(names) else names[i - 1]
            out.append(src.mutant(open_pos + t.start(), open_pos + t.end(), repl, "TAB"))


# ----------------------------------------------------------- statements ----

CALL = re.compile(r"(?:\(void\)\s*)?([A-Za-z_][\w:]*)(?:\s*(?:\.|->)\s*[A-Za-z_]\w*)*\s*\(")
SEMICOLON = re.compile(r"\s*;")


def call_statement(code, start):
    """End of the call statement `name(...);` starting at start, or -1."""
    m = CALL.match(code.masked, start)
    if not m or m.group(1) in KEYWORDS:
        return -1, ""
    close = code.partner[m.end() - 1]
    semi = SEMICOLON.match(code.masked, close + 1) if close >= 0 else None
    return (semi.end(), m.group(1)) if semi else (-1, "")


def gen_del(src, out):
    for start in src.statement_starts():
        end, name = call_statement(src.code, start)
        if end < 0 or name.split("::")[-1] in NO_DELETE or UNLOCK.match(src.masked, start):
            continue
        out.append(src.mutant(start, end, REMOVED, "DEL"))


LVALUE = r"\**[A-Za-z_][\w:]*(?:\s*(?:\.|->)\s*[A-Za-z_]\w*|\s*\[[^\]\n;]*\])*"
ASSIGNMENT = re.compile(r"(?:" + LVALUE + r"\s*(?:[-+*/%&|^]|<<|>>)?=(?!=)|(?:\+\+|--)\s*" + LVALUE + r"\s*;|"
                        + LVALUE + r"\s*(?:\+\+|--)\s*;)")


def gen_asg(src, out):
    masked = src.masked
    for start in src.statement_starts():
        m = ASSIGNMENT.match(masked, start)
        if not m or re.match(r"(?:auto|const|return|case|goto)\b", masked[start:start + 8]):
            continue
        end = statement_end(masked, start)
        if masked[end - 1:end] != ";":
            continue  # an enumerator, not a statement
        out.append(src.mutant(start, end, REMOVED, "ASG"))


def next_token(masked, pos):
    m = re.compile(r"\s*(\}|case\b|default\b|\S)").match(masked, pos)
    return (m.group(1), m.start(1)) if m else ("", len(masked))


def closes(code, brace_close):
    """What the '}' at brace_close ends (see Code.opens_body)."""
    opener = code.partner[brace_close]
    return code.opens_body(opener) if opener >= 0 else "block"


def falls_to(code, end):
    """Where control goes from end when nothing more runs before it: out of
    a "function", to the end of a "loop" body or of a "switch", into the
    next "case", or "" (more code runs)."""
    pos = end
    while True:
        token, at = next_token(code.masked, pos)
        if token in ("case", "default"):
            return "case"
        if token != "}":
            return ""
        kind = closes(code, at)
        if kind != "block":
            return kind
        pos = at + 1


# A deleted jump that lands where the jump goes changes nothing; a break
# deleted before the next case falls through unannotated, which the build
# refuses.
SAME_PLACE = {"return": ("function", "case"), "continue": ("loop", "case"), "break": ("switch", "case")}


def gen_jmp(src, out):
    masked = src.masked
    for start in src.statement_starts():
        m = re.compile(r"(return)\b|(break|continue)\s*;").match(masked, start)
        if not m:
            continue
        end = statement_end(masked, start) if m.group(1) else m.end()
        if masked[end - 1:end] != ";" or falls_to(src.code, end) in SAME_PLACE[m.group(1) or m.group(2)]:
            continue
        out.append(src.mutant(start, end, REMOVED, "JMP"))


def gen_unl(src, out):
    """Each unlock deleted alone; the replacement names the path it sits
    on, so that an allow-list entry or a report says which one."""
    masked = src.masked
    found = []
    for start in src.statement_starts():
        if not UNLOCK.match(masked, start):
            continue
        end, _ = call_statement(src.code, start)
        if end >= 0:
            found.append((start, end))
    by_body = {}
    for start, end in found:
        body = src.code.brace[start]
        while body >= 0 and src.code.opens_body(body) != "function":
            body = src.code.brace[body]
        by_body.setdefault(body, []).append((start, end))
    for body, spots in by_body.items():
        for n, (start, end) in enumerate(spots, 1):
            token, at = next_token(masked, end)
            if token == "}":
                where = "at the end of the " + {"function": "function", "loop": "loop body"}.get(
                    closes(src.code, at), "block")
            else:
                following = squeeze(src.text[at:statement_end(masked, at)])
                where = "before " + (following if len(following) <= 48 else following[:45] + "...")
            name = src.code.function_name(start) or "?"
            path = "%s: unlock %d of %d, %s" % (name, n, len(spots), where.replace("*/", "* /"))
            out.append(src.mutant(start, end, "%s /* %s */" % (REMOVED, path), "UNL"))


def gen_ret(src, out):
    masked = src.masked
    for m in re.finditer(r"\breturn\b", masked):
        if in_spans(m.start(), src.bad):
            continue
        end = statement_end(masked, m.end())
        for t in re.finditer(r"\bAPI_ERR_\w+\b", masked[m.end():end]):
            repl = "API_ERR_UNKNOWN_CODE" if t.group(0) == "API_ERR_NONE" else "API_ERR_NONE"
            out.append(src.mutant(m.end() + t.start(), m.end() + t.end(), repl, "RET"))


def gen_neg(src, out):
    masked = src.masked
    for m in re.finditer(r"\b(if|while)\s*\(", masked):
        if in_spans(m.start(), src.bad):
            continue
        open_pos = m.end() - 1
        close = src.code.partner[open_pos]
        if close < 0:
            continue
        inner = src.text[open_pos + 1:close]
        cond = masked[open_pos + 1:close]
        if len(re.findall(r"==|!=", cond)) == 1 and not re.search(r"&&|\|\||[<>?]", cond):
            continue  # the same as flipping its one equality
        out.append(src.mutant(open_pos, close + 1, "(!(" + inner + "))", "NEG"))


GENERATORS = (gen_ror_log, gen_binary, gen_lit, gen_flt, gen_chr, gen_bol, gen_str, gen_fmt, gen_msg, gen_tab,
              gen_del, gen_asg, gen_jmp, gen_unl, gen_ret, gen_neg)
