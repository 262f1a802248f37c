#!/usr/bin/env python3
"""Lists the C++ functions (in .cpp and .h files) longer than a reader can hold.

A function runs from the first line of its signature to its closing brace; a lambda
counts inside the function that holds it. Braces are counted in the text left once
comments, literals and directives are blanked; the text before a brace tells a function
(a lambda held by a variable is one) from a namespace or class (entered) and a table or
an initialiser (skipped). --allowed names the functions that may stay long for now, as
"file.cpp:Name", one a line. Ends with 1 when a function is too long or an allowance is
no longer needed.
"""
import argparse
import pathlib
import re
import sys

SCOPE = re.compile(r"\s*(?:(?:export|inline)\s+)*(namespace|class|struct|union|enum|extern)\b")
ACCESS = re.compile(r"^.*\b(?:public|protected|private)\s*:(?!:)", re.S)
CTOR_INIT = re.compile(r"\)\s*(?:noexcept\s*)?:(?!:)")
NOT_CODE = re.compile(r"""^[ \t]*\#(?:\\\n|[^\n])*|//[^\n]*|/\*.*?(?:\*/|\Z)|\b\d[\w']*
    |(?<!\w)(?:u8|[uUL])?R"([^(\s]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"?|'(?:\\.|[^'\\\n])*'?""",
                      re.S | re.M | re.X)
QUALIFIERS = r"(?:const|volatile|noexcept|override|final|mutable|&&?)"
AFTER_PARAMS = re.compile(rf"\s*(?:{QUALIFIERS}\s*)*(?:->.*)?", re.S)


def blank(text):
    """The text with comments, literals and directives as spaces; newlines stay."""
    def wipe(m):  # a number keeps its digit separators (1'000) out of the literals
        return m.group() if m.group()[0].isdigit() else re.sub(r"[^\n]", " ", m.group())
    return NOT_CODE.sub(wipe, text)


def closing(code, i, opening="{", closing="}"):
    """The position of the bracket that closes the one at i (the last when none does)."""
    depth = 0
    for k in range(i, len(code)):
        depth += {opening: 1, closing: -1}.get(code[k], 0)
        if depth == 0:
            return k
    return len(code) - 1


def declaration(head):
    """The text before a brace without access label and template header."""
    head = ACCESS.sub("", head)
    if not re.match(r"\s*template\s*<", head):
        return head
    return head[closing(head, head.index("<"), "<", ">") + 1:]


def classify(head):
    """What a brace opens after this text: scope, function, init (a member's) or data."""
    head = declaration(head)
    if SCOPE.match(head):
        return "scope"
    if CTOR_INIT.search(head):
        return "function" if head.rstrip()[-1:] in ")}" else "init"
    flat, groups = head, 1
    while groups:  # parentheses, innermost first, become one @ each
        flat, groups = re.subn(r"\([^()]*\)", "@", flat)
    if "@" not in flat:
        return "data"
    return "function" if AFTER_PARAMS.fullmatch(flat[flat.rindex("@") + 1:]) else "data"


def long_functions(path, limit):
    """(line, name, lines) of each function in the file longer than the limit."""
    code = blank(path.read_text(encoding="utf-8", errors="replace"))
    found, head_start, i = [], 0, 0
    while i < len(code):
        if code[i] in ";}":
            head_start = i + 1
        if code[i] != "{":
            i += 1
            continue
        head = code[head_start:i]
        kind = classify(head)
        if kind == "scope":
            head_start = i = i + 1
            continue
        end = closing(code, i)
        if kind == "function":
            start = head_start + len(head) - len(ACCESS.sub("", head).lstrip())
            first, last = code.count("\n", 0, start) + 1, code.count("\n", 0, end) + 1
            if last - first + 1 > limit:
                name = re.search(r"(\w+)\s*=\s*\[|([^\s(]*)\s*\(", declaration(head))
                name = name.group(1) or name.group(2) if name else "?"
                found.append((first, name, last - first + 1))
        if kind != "init":
            head_start = end + 1
        i = end + 1
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=int, default=60)
    parser.add_argument("--allowed", type=pathlib.Path)
    parser.add_argument("folders", nargs="+", type=pathlib.Path)
    args = parser.parse_args()
    text = args.allowed.read_text(encoding="utf-8") if args.allowed else ""
    allowed = {s.strip() for s in text.splitlines() if s.strip() and not s.startswith("#")}
    failed = False
    for path in sorted(p for f in args.folders for p in f.rglob("*") if p.suffix in (".cpp", ".h")):
        for line, name, lines in long_functions(path, args.limit):
            key = f"{path.name}:{name}"
            note = " (allowed for now)" if key in allowed else ""
            print(f"{path}:{line}: {name} has {lines} lines (at most {args.limit}){note}")
            failed, allowed = failed or not note, allowed - {key}
    for key in sorted(allowed):
        print(f"{args.allowed}: {key} is no longer too long (or was moved): remove it")
    return 1 if failed or allowed else 0


if __name__ == "__main__":
    sys.exit(main())
