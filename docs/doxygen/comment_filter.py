#!/usr/bin/env python3
"""Doxygen INPUT_FILTER for our headers, which comment a declaration with a
block of `//` lines directly above it and a member with a `//` comment at the
end of its line. Doxygen reads only `///`, so this turns such a block into
`///` lines and such an end-of-line comment into `///<`. A block above
several declarations in a row (no blank line between) documents each of
them: they become a member group whose first member's text Doxygen gives to
all (DISTRIBUTE_GROUP_DOC); so does a line that only invokes a macro
(which declares several members at once). The file's first
block (what the header holds), blocks above preprocessor lines, namespaces,
access specifiers and closing braces are left as they are. Line numbers are
kept, so Doxygen's messages point at the header's real lines."""

import re
import sys

COMMENT = re.compile(r"^(\s*)//(?![/!])\s?(.*)$")
TRAILING = re.compile(r"^(?P<code>[^\"']*?[;,])(?P<gap>\s+)//(?![/!<])\s?(?P<text>.*)$")
MACRO_CALL = re.compile(r"^\s*[A-Z][A-Z0-9_]*\(.*\)\s*$")
NOT_A_DECLARATION = re.compile(r"^\s*(#|namespace\b|public:|private:|protected:|}|$|//)")


def declaration_run(lines, start, indent):
    """The end of the declarations from `start` up to a blank line, a comment
    or a line indented less than `indent`, and how many start at `indent`."""
    end, starts = start, 0
    while end < len(lines):
        line = lines[end]
        if not line.strip() or line.lstrip().startswith("//"):
            break
        lead = line[: len(line) - len(line.lstrip())]
        if len(lead) < len(indent):
            break
        if lead == indent and not line.lstrip().startswith(("}", ":")):
            starts += 1
        end += 1
    return end, starts


def convert(lines):
    out = list(lines)
    i = 0
    seen_code = False
    while i < len(lines):
        m = COMMENT.match(lines[i])
        if not m:
            if lines[i].strip() and not lines[i].lstrip().startswith("#"):
                seen_code = True
            t = TRAILING.match(lines[i])
            if t and seen_code and not t.group("code").lstrip().startswith("}"):
                out[i] = f"{t.group('code')}{t.group('gap')}///< {t.group('text')}\n"
            i += 1
            continue
        j = i
        while j < len(lines) and COMMENT.match(lines[j]):
            j += 1
        following = lines[j] if j < len(lines) else ""
        if seen_code and not NOT_A_DECLARATION.match(following):
            indent = m.group(1)
            for k in range(i, j):
                c = COMMENT.match(lines[k])
                text = re.sub(r"^-+\s*(.*?)\s*-+$", r"\1", c.group(2))
                out[k] = f"{c.group(1)}/// {text}\n"
            end, starts = declaration_run(lines, j, indent)
            if starts > 1 or MACRO_CALL.match(following):
                out[j] = f"{indent}/** @{{ */ {lines[j].lstrip()}"
                out[end - 1] = out[end - 1].rstrip("\n") + " /** @} */\n"
        i = j
    return out


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        sys.stdout.write("".join(convert(f.readlines())))


if __name__ == "__main__":
    main()
