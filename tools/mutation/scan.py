"""The source masked down to its code, keeping every offset, and the bracket
helpers the operators share."""

import re


class Masked:
    """A source text with comments, preprocessor lines and the contents of
    string and character literals blanked.  The value of an object-like
    #define stays visible (its constant is code like any other); `defines`
    holds those spans, where no statement starts."""

    def __init__(self, text):
        self.text = text
        self.strings = []  # (start, end) of "..." literals, quotes included
        self.chars = []  # (start, end) of '...' literals, quotes included
        self.defines = []  # (start, end) of the values of object-like #defines
        self.code = self._mask(text)

    def _mask(self, text):
        out = list(text)
        i, n = 0, len(text)
        line_start = True
        while i < n:
            c = text[i]
            if line_start and c == "#":
                eol = text.find("\n", i)
                eol = n if eol < 0 else eol
                m = re.match(r"#\s*define\s+\w+(?=[ \t])", text[i:eol])
                if m and not text[i:eol].rstrip().endswith("\\"):
                    for k in range(i, i + m.end()):
                        out[k] = " "
                    self.defines.append((i + m.end(), eol))
                    i += m.end()
                    line_start = False
                    continue
                # Any other directive, with its continuation lines.
                while i < n and text[i] != "\n":
                    if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                        out[i] = " "
                        i += 2
                        continue
                    out[i] = " "
                    i += 1
                continue
            if c == "\n":
                line_start = True
                i += 1
                continue
            if c in " \t":
                i += 1
                continue
            line_start = False
            if text.startswith("//", i):
                while i < n and text[i] != "\n":
                    out[i] = " "
                    i += 1
                continue
            if text.startswith("/*", i):
                end = text.find("*/", i + 2)
                end = n if end < 0 else end + 2
                for k in range(i, end):
                    if out[k] != "\n":
                        out[k] = " "
                i = end
                continue
            raw = re.match(r'R"([^()\\ ]{0,16})\(', text[i:i + 20])
            if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
                end = text.find(")" + raw.group(1) + '"', i)
                end = n if end < 0 else end + len(raw.group(1)) + 2
                for k in range(i + 1, end):
                    if out[k] != "\n":
                        out[k] = " "
                i = end
                continue
            if c in "\"'":
                if c == "'" and i > 0 and text[i - 1].isalnum():
                    i += 1  # digit separator
                    continue
                j = i + 1
                while j < n and text[j] != c and text[j] != "\n":
                    j += 2 if text[j] == "\\" else 1
                for k in range(i + 1, min(j, n)):
                    out[k] = " "
                (self.strings if c == '"' else self.chars).append((i, j + 1))
                i = j + 1
                continue
            i += 1
        return "".join(out)


def in_spans(pos, spans):
    return any(a <= pos < b for a, b in spans)


def squeeze(s):
    return " ".join(s.split())


PAIRS = {"(": ")", "[": "]", "{": "}"}
CLOSERS = {")": "(", "]": "[", "}": "{"}


class Code:
    """The masked text and what the operators ask of its structure, worked
    out once: each bracket's partner, the innermost brace around every
    offset, the parenthesis depth within it, and the last non-blank
    character before every offset."""

    def __init__(self, masked):
        self.masked = masked
        n = len(masked)
        self.partner = [-1] * n
        self.brace = [-1] * n  # innermost '{' enclosing the offset
        self.depth = [0] * n  # parenthesis depth counted from that brace
        self.prev = [-1] * n  # last non-blank offset before the offset
        stacks = {"(": [], "[": [], "{": []}
        braces, depth, base, last = [], 0, [0], -1
        for i, ch in enumerate(masked):
            self.prev[i] = last
            self.brace[i] = braces[-1] if braces else -1
            if ch in PAIRS:
                stacks[ch].append(i)
                if ch == "(":
                    depth += 1
                elif ch == "{":
                    braces.append(i)
                    base.append(depth)
            elif ch in CLOSERS:
                stack = stacks[CLOSERS[ch]]
                if stack:
                    j = stack.pop()
                    self.partner[i], self.partner[j] = j, i
                if ch == ")":
                    depth -= 1
                elif ch == "}" and braces:
                    braces.pop()
                    base.pop()
                    self.brace[i] = braces[-1] if braces else -1
            self.depth[i] = depth - base[-1]
            if not ch.isspace():
                last = i

    def word_before(self, pos):
        """The identifier or keyword that ends just before pos (blanks
        skipped), and its start."""
        end = self.prev[pos] if pos < len(self.masked) else len(self.masked.rstrip()) - 1
        k = end
        while k >= 0 and (self.masked[k].isalnum() or self.masked[k] == "_"):
            k -= 1
        return self.masked[k + 1:end + 1], k + 1

    def last_before(self, pos):
        p = self.prev[pos] if pos < len(self.masked) else len(self.masked.rstrip()) - 1
        return self.masked[p] if p >= 0 else "", p

    def at_statement_start(self, start):
        """Whether a statement may begin at start: after ';', a brace, a
        label, "else", "do", or the header of an if, while or for."""
        ch, p = self.last_before(start)
        if p < 0:
            return True
        if ch == ":":
            return self.masked[p - 1:p] != ":"
        if ch in ";{}":
            return True
        if ch == ")":
            head = self.partner[p]
            return head >= 0 and self.word_before(head)[0] in ("if", "while", "for")
        return self.word_before(start)[0] in ("else", "do")

    def parameters_before(self, brace):
        """The '(' of the parameter list or condition a '{' follows (past
        qualifiers and a trailing return type), or -1."""
        ch, p = self.last_before(brace)
        if ch != ")":
            k, low = p, max(0, brace - 160)
            while k >= low and self.masked[k] not in ");{}":
                k -= 1
            if k < low or self.masked[k] != ")" or not QUALIFIERS.fullmatch(self.masked, k + 1, brace):
                return -1
            p = k
        return self.partner[p]

    def opens_body(self, brace):
        """What the '{' at brace opens: "function" (a function's or a
        lambda's body), "loop", "switch" or "block"."""
        if self.last_before(brace)[0] == "]":
            return "function"  # a lambda without parameters
        if self.word_before(brace)[0] == "do":
            return "loop"
        head = self.parameters_before(brace)
        if head < 0:
            return "block"
        name = self.word_before(head)[0]
        if name in ("for", "while"):
            return "loop"
        if name == "switch":
            return "switch"
        if name in ("if", "catch", "") and self.last_before(head)[0] != "]":
            return "block"
        return "function"

    def function_name(self, pos):
        """The name of the function whose body holds pos (lambdas are looked
        through), or ""."""
        brace = self.brace[pos] if pos < len(self.masked) else -1
        while brace >= 0:
            if self.opens_body(brace) == "function" and self.last_before(brace)[0] != "]":
                head = self.parameters_before(brace)
                if head >= 0 and self.last_before(head)[0] != "]":
                    m = re.search(r"([A-Za-z_~][\w:~]*)\s*$", self.masked[max(0, head - 200):head])
                    if m:
                        return m.group(1)
            brace = self.brace[brace]
        return ""


QUALIFIERS = re.compile(r"\s*(?:(?:const|noexcept|override|final|mutable)\s*)*(?:->\s*[\w:<>*&, ]+?)?\s*")


def statement_end(masked, pos):
    """Offset just past the ';' ending the statement that starts at pos."""
    depth = 0
    for k in range(pos, len(masked)):
        ch = masked[k]
        if ch in "([":
            depth += 1
        elif ch == "{" and depth == 0:
            return k
        elif ch in ")]}":
            depth -= 1
            if depth < 0:
                return k
        elif ch == ";" and depth == 0:
            return k + 1
    return len(masked)
