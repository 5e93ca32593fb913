"""Every place in a C++ source where a fixed operator can plant a fault.

The operators, each a change of one line that still reads as C++:
  comparison   a comparison flipped (< to >=, == to !=, ...) or its strictness
               changed (< to <=, >= to >, ...)
  constant     an integer literal moved by one, up or down
  index        a subscript moved by one
  logic        && and || swapped
  negation     a logical ! dropped
  return       a returned constant changed (0 and 1, true and false, -1 to 0)
  delete       a statement deleted: a call (free and unlock among them), an
               assignment or increment, or an early return behind an if (the if
               and its condition, calls and all, stay)

Comments, string and character literals, preprocessor lines and
static_asserts are never changed; the code is formatted with spaces around
binary operators, which tells a comparison from a template's brackets.
"""

import collections
import re

Site = collections.namedtuple("Site", "path line start end replacement operator")

COMPARISON_FLIP = {"<": ">=", ">=": "<", ">": "<=", "<=": ">", "==": "!=", "!=": "=="}
COMPARISON_STRICTNESS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
RETURNED = {"0": "1", "1": "0", "-1": "0", "true": "false", "false": "true"}
# Lines that begin so declare something: deleting them only breaks the build.
DECLARATION = re.compile(
    r"^(const|constexpr|static|auto|int|unsigned|bool|char|size_t|ssize_t|off_t|pid_t|"
    r"u?int\d+_t|double|float|struct|class|using|typedef|enum|namespace|template|"
    r"[A-Z]\w*(<[^;]*>)?\s*[*&]?\s*\w+\s*[=({;])")


def mask(text):
    """The text with comments and literals blanked (same length, same lines)."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            open_at = text.find("(", i)
            delim = text[i + 2:open_at]
            j = text.find(")" + delim + '"', open_at)
            j = n if j < 0 else j + len(delim) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c if j - i >= 2 else " " * (j - i))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def line_sites(path, number, line, code):
    """The sites of one line; line is the source, code the same line masked."""
    stripped = code.strip()
    if not stripped or stripped.startswith("#") or "static_assert" in code:
        return []
    sites = []

    def add(start, end, replacement, operator):
        sites.append(Site(path, number, start, end, replacement, operator))

    for m in re.finditer(r"(?<=\s)(==|!=|<=|>=|<|>)(?=\s)", code):
        op = m.group(1)
        add(m.start(), m.end(), COMPARISON_FLIP[op], "comparison")
        if op in COMPARISON_STRICTNESS:
            add(m.start(), m.end(), COMPARISON_STRICTNESS[op], "comparison")
    returned = [m.span(1) for m in re.finditer(r"\breturn (-1|0|1|true|false);", code)]
    for m in re.finditer(r"(?<![\w.])(0x[0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])", code):
        if any(a <= m.start(1) < b for a, b in returned):
            continue  # the return operator changes it
        if code[:m.start()].rstrip().endswith("[") and code[m.end():].lstrip().startswith("]"):
            continue  # a subscript: the index operator moves it
        text = m.group(1)
        if text.lower().startswith("0x"):
            value, fmt = int(text, 16), hex
        elif len(text) > 1 and text.startswith("0"):
            value, fmt = int(text, 8), lambda v: "0" + format(v, "o")
        else:
            value, fmt = int(text), str
        add(m.start(1), m.end(1), fmt(value + 1), "constant")
        if value > 0:
            add(m.start(1), m.end(1), fmt(value - 1), "constant")
    for m in re.finditer(r"(?<=[\w)\]])\[([^\[\]]+)\]", code):
        add(m.start(1), m.end(1), f"{line[m.start(1):m.end(1)]} + 1", "index")
        add(m.start(1), m.end(1), f"{line[m.start(1):m.end(1)]} - 1", "index")
    for m in re.finditer(r" (&&|\|\|) ", code):
        add(m.start(1), m.end(1), "||" if m.group(1) == "&&" else "&&", "logic")
    for m in re.finditer(r"(?<![\w)\]])!(?!=)", code):
        add(m.start(), m.end(), "", "negation")
    for m in re.finditer(r"\breturn (-1|0|1|true|false);", code):
        add(m.start(1), m.end(1), RETURNED[m.group(1)], "return")
    early = re.match(r"^(\s*if \(.*\)) (return\b[^;]*;)\s*$", code)
    if early:
        add(early.start(2), early.end(2), ";", "delete")
    elif is_statement(stripped):
        start = len(code) - len(code.lstrip())
        add(start, len(code.rstrip()), "", "delete")
    return sites


# A call of a function, a method or through a pointer: no blank before its
# parenthesis, which tells it from a declaration ("type name(...)").
CALL = re.compile(r"^[\w:.*\[\]]+(->[\w:.*\[\]]+)*\(.*\);$")
# An assignment to a single place, which tells it from a declaration with an
# initialiser ("type name = ...").
ASSIGNMENT = re.compile(r"^[\w:.*\[\]()]+(->[\w:.*\[\]()]+)*\s*(([-+*/|&^]|<<|>>)?=[^=].*|\+\+|--);$")


def is_statement(code):
    """Whether a masked, stripped line is a whole call or assignment statement."""
    return (code.count("(") == code.count(")") and not DECLARATION.match(code)
            and (CALL.match(code) is not None or ASSIGNMENT.match(code) is not None))


def file_sites(path, text):
    """Every site of a file's text."""
    masked = mask(text)
    sites = []
    for number, (line, code) in enumerate(zip(text.split("\n"), masked.split("\n")), start=1):
        sites.extend(line_sites(path, number, line, code))
    return sites


def apply(text, site):
    """The text with the site's change made."""
    lines = text.split("\n")
    line = lines[site.line - 1]
    lines[site.line - 1] = line[:site.start] + site.replacement + line[site.end:]
    return "\n".join(lines)


def describe(text, site):
    """The change as one line: before -> after."""
    line = text.split("\n")[site.line - 1]
    before = line[site.start:site.end].strip() or "(nothing)"
    after = site.replacement.strip() or "(deleted)"
    # A whole statement deleted is shown whole; an early return deleted is
    # shown alone, since the condition before it (and any call in it) stays.
    if site.operator == "delete" and not site.replacement:
        before = line.strip()
    return f"{site.operator}: {before[:60]} -> {after[:40]}"
