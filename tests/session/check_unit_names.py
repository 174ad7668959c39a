#!/usr/bin/env python3
"""Fails when one target's files declare the same file-local name twice.

The unity build compiles a target's files eight to a unit, so two files of
one target that each keep a name of their own (in an anonymous namespace,
static, or a namespace-scope constant) meet in one unit once the batches
shift: the build then breaks in files nobody touched, or, worse, an overload
picks the other file's function. Each target's .cpp files are read from
SOURCES (lines "TARGET<TAB>FILE", as CMake writes them); every clash is
printed as "TARGET: NAME in FILE and FILE" and the status is 1.

  check_unit_names.py SOURCES [ROOT]   ROOT shortens the printed paths
"""
import collections
import os
import re
import sys

IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
SKIPPED_NAMES = {
    "static_assert", "operator", "main", "namespace", "template", "typename", "return",
    "const", "constexpr", "static", "inline", "auto", "void", "int", "bool", "char",
}


def strip_code(text):
    """The text without comments, literals and preprocessor lines."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            while i < n and text[i] != "\n":
                i += 2 if text[i] == "\\" else 1
            continue
        if c == "\n":
            line_start = True
            out.append(c)
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            i = text.find("*/", i + 2)
            i = n if i < 0 else i + 2
            out.append(" ")
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            open_paren = text.find("(", i)
            delim = ")" + text[i + 2:open_paren] + '"'
            end = text.find(delim, open_paren)
            i = n if end < 0 else end + len(delim)
            out.append('""')
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            out.append('""')
        else:
            out.append(c)
            i += 1
    return "".join(out)


def declared_name(head):
    """The name a declaration at namespace scope introduces, or None."""
    head = " ".join(head.split())
    if not head:
        return None
    m = re.match(r"(?:template\s*<.*?>\s*)?(struct|class|union|enum(?:\s+class)?)\s+([A-Za-z_]\w*)",
                 head)
    if m:
        return m.group(2)
    m = re.match(r"using\s+([A-Za-z_]\w*)\s*=", head)
    if m:
        return m.group(1)
    if head.startswith(("using ", "namespace ", "friend ", "extern ", "typedef ")):
        return None
    # The last identifier before the first ( = [ { outside template brackets.
    depth = 0
    cut = len(head)
    for k, ch in enumerate(head):
        if ch == "<":
            depth += 1
        elif ch == ">" and depth > 0:
            depth -= 1
        elif depth == 0 and ch in "(=[{":
            cut = k
            break
    names = IDENT.findall(head[:cut])
    if not names:
        return None
    name = names[-1]
    if name in SKIPPED_NAMES or "operator" in names or re.fullmatch(r"[A-Z0-9_]+", name):
        return None
    return name


def file_local_names(text):
    """Names FILE keeps to itself: in an anonymous namespace, static, or a
    constant at namespace scope. Each maps to the alias it names for a
    `using` (the same alias in two files is the same name), else to None."""
    code = strip_code(text)
    names = {}
    # Each scope: its kind ("anon", "ns" for a named namespace or the file,
    # "block" for anything whose inside is not a namespace scope).
    scopes = ["ns"]
    head = []
    i, n = 0, len(code)

    def take(text_of_head):
        name = declared_name(text_of_head)
        if name is None:
            return
        words = text_of_head.split()
        alias = " ".join(words) if words[0] == "using" else None
        if scopes[-1] == "anon":
            names[name] = alias
        elif words[0] == "static" or (words[0] in ("const", "constexpr")
                                      and "(" not in text_of_head.split("=")[0]):
            names[name] = alias

    while i < n:
        c = code[i]
        if scopes[-1] == "block":
            if c == "{":
                scopes.append("block")
            elif c == "}":
                scopes.pop()
            i += 1
            continue
        if c == "{":
            text_of_head = "".join(head).strip()
            head = []
            if re.fullmatch(r"namespace", text_of_head):
                scopes.append("anon")
            elif re.fullmatch(r"(inline\s+)?namespace\s+[\w:]+", text_of_head):
                scopes.append("ns")
            elif re.fullmatch(r"extern\s*\"\"", text_of_head):
                scopes.append(scopes[-1])
            else:
                take(text_of_head)
                scopes.append("block")
        elif c == "}":
            head = []
            if len(scopes) > 1:
                scopes.pop()
        elif c == ";":
            take("".join(head).strip())
            head = []
        else:
            head.append(c)
        i += 1
    return names


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 64
    root = sys.argv[2] if len(sys.argv) == 3 else None
    targets = collections.defaultdict(list)
    with open(sys.argv[1], encoding="utf-8") as listing:
        for line in listing:
            target, _, path = line.rstrip("\n").partition("\t")
            if path.endswith((".cpp", ".cc", ".cxx")):
                path = os.path.join(os.path.dirname(os.path.abspath(sys.argv[1])), path)
                targets[target].append(os.path.normpath(path))
    clashes = 0
    for target in sorted(targets):
        seen = {}
        for path in sorted(set(targets[target])):
            with open(path, encoding="utf-8", errors="replace") as source:
                local = file_local_names(source.read())
            shown = os.path.relpath(path, root) if root else path
            for name, alias in sorted(local.items()):
                if name not in seen:
                    seen[name] = (shown, alias)
                elif alias is None or seen[name][1] != alias:
                    print(f"{target}: {name} in {seen[name][0]} and {shown}")
                    clashes += 1
    if clashes:
        print(f"{clashes} file-local names declared twice in one target")
    return 1 if clashes else 0


if __name__ == "__main__":
    sys.exit(main())
