#!/usr/bin/env python3
"""Fails when a C++ or Python code block of the README is not, line for
line, part of one of the documentation's example files, which scripts/docs
builds and runs: so the README's code cannot drift from code that works.
Usage: check_readme_snippets.py README.md EXAMPLES_DIR"""

import re
import sys
from pathlib import Path

BLOCK = re.compile(r"^```(cpp|python)\n(.*?)^```$", re.M | re.S)


def main():
    readme, examples = Path(sys.argv[1]), Path(sys.argv[2])
    sources = [p.read_text(encoding="utf-8") for p in examples.rglob("*")
               if p.suffix in (".cpp", ".py")]
    failed = 0
    for m in BLOCK.finditer(readme.read_text(encoding="utf-8")):
        if not any(m.group(2) in source for source in sources):
            line = readme.read_text(encoding="utf-8")[: m.start()].count("\n") + 1
            print(f"{readme}:{line}: this {m.group(1)} block is in none of the examples "
                  f"under {examples}", file=sys.stderr)
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
