"""Writes orbrix_cqg/_core.pyi into the build folder given, from the built
module's signatures and docstrings (mypy's stubgen imports it), so type
checkers and editors see the compiled module's names and types.

Two things stubgen (mypy 1.0, Debian 12) cannot do by itself are done here:

- pybind11 writes keyword-only parameters after a bare ``*``
  (``__init__(self, *, security: Security, ...)``), which stubgen's docstring
  parser takes for a malformed signature: it would fall back to
  ``(*args, **kwargs) -> Any`` for every such constructor and method. Its
  argument-name pattern is widened to accept the bare ``*``, which it then
  writes into the stub as it is.
- stubgen leaves out module attributes named with double underscores, so
  ``__version__`` (which the package re-exports) is added.
"""

import re
import sys
from pathlib import Path

from mypy import stubdoc
from mypy.stubgen import main as stubgen

stubdoc._ARG_NAME_RE = re.compile(r"\**[A-Za-z_][A-Za-z0-9_]*$|\*$")

out = Path(sys.argv[1])
stubgen(["-m", "orbrix_cqg._core", "-o", str(out), "--quiet"])
stub = out / "orbrix_cqg" / "_core.pyi"
if not stub.exists():
    sys.exit(f"make_stubs: stubgen wrote no {stub}")
text = stub.read_text()
if "\n__version__" not in text:
    stub.write_text(text.rstrip("\n") + "\n\n__version__: str\n")
