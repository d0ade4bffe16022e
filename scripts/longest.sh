#!/usr/bin/env bash
# The longest functions and the longest source files of the tree: what a
# newcomer meets first when a change is due.
#   scripts/longest.sh [-n COUNT] [FOLDER...]   (default: 10; the source folders)
# A function is counted from the line of its opening brace to the line of its
# closing brace (a lambda inside counts to the function around it); the file
# counts are lines. Braces are counted after comments, strings and character
# literals are taken out, so the figures need no compiler.
set -euo pipefail
cd "$(dirname "$0")/.."
count=10
if [ "${1:-}" = "-n" ]; then
  count=$2
  shift 2
fi
[ $# -gt 0 ] || set -- core ui ctl sim bench fuzz tests
exec python3 - "$count" "$@" <<'EOF'
import os
import re
import sys

count = int(sys.argv[1])
roots = sys.argv[2:]
files = []
for root in roots:
    for folder, _, names in os.walk(root):
        files += [os.path.join(folder, n) for n in names if n.endswith((".cpp", ".h"))]

token = re.compile(r'//[^\n]*|/\*.*?\*/|R"([^(]*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
head = re.compile(r'([~\w:<>]+)\s*\([^;{}]*\)\s*(?:const|noexcept|override|final|mutable|->\s*[\w:<>&*, ]+|\s)*'
                  r'(?::\s*[^;{}]*)?$', re.S)
not_functions = {"if", "for", "while", "switch", "catch", "return", "sizeof", "decltype", "alignof"}


def blank(m):
    return re.sub(r'[^\n]', ' ', m.group(0))


functions = []
lengths = []
for path in sorted(files):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    lengths.append((text.count("\n"), path))
    code = token.sub(blank, text)
    stack = []  # (is function, name, start line)
    last = 0
    line = 1
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
        elif c == "{":
            before = code[last:i]
            m = head.search(before)
            name = m.group(1) if m else None
            is_function = bool(m) and name not in not_functions and not re.search(
                r'\b(class|struct|namespace|enum|union)\b|=\s*$', before) and not any(s[0] for s in stack)
            stack.append((is_function, name, line))
            last = i + 1
        elif c == "}":
            if stack:
                is_function, name, start = stack.pop()
                if is_function:
                    functions.append((line - start + 1, name, path, start))
            last = i + 1
        elif c == ";":
            last = i + 1

print(f"The {count} longest functions (lines, name, file:line):")
for n, name, path, start in sorted(functions, key=lambda f: -f[0])[:count]:
    print(f"  {n:5d}  {name}  {path}:{start}")
print(f"The {count} longest files (lines):")
for n, path in sorted(lengths, key=lambda f: -f[0])[:count]:
    print(f"  {n:5d}  {path}")
EOF
