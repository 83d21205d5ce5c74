"""Writes orbrix_cqg/_core.pyi into the build folder given, from the built
module's signatures and docstrings (mypy's stubgen imports it), so type
checkers and editors see the compiled module's names and types.

What stubgen (mypy 1.0, Debian 12) cannot do by itself is done here:

- pybind11 writes keyword-only parameters after a bare ``*``
  (``__init__(self, *, security: Security, ...)``), which stubgen's docstring
  parser takes for a malformed signature: it would fall back to
  ``(*args, **kwargs) -> Any`` for every such constructor and method. Its
  argument-name pattern is widened to accept the bare ``*``, which it then
  writes into the stub as it is.
- A static method (OrderUpdate.keys, Deal.keys) reaches stubgen as a ``staticmethod``
  whose docstring is staticmethod's own, so its signature would be lost;
  it is written from the function it wraps, as a ``@staticmethod``.
- stubgen leaves out module attributes named with double underscores, so
  ``__version__`` (which the package re-exports) is added.
"""

import re
import sys
from pathlib import Path

from mypy import stubdoc, stubgenc
from mypy.stubgen import main as stubgen

stubdoc._ARG_NAME_RE = re.compile(r"\**[A-Za-z_][A-Za-z0-9_]*$|\*$")

_function_stub = stubgenc.generate_c_function_stub


def _function_or_static_method_stub(module, name, obj, output, imports, sig_generators,
                                    self_var=None, class_name=None):
    if isinstance(obj, staticmethod):
        output.append("@staticmethod")
        obj, self_var, class_name = obj.__func__, None, None
    _function_stub(module, name, obj, output, imports, sig_generators, self_var, class_name)


stubgenc.generate_c_function_stub = _function_or_static_method_stub

out = Path(sys.argv[1])
stubgen(["-m", "orbrix_cqg._core", "-o", str(out), "--quiet"])
stub = out / "orbrix_cqg" / "_core.pyi"
if not stub.exists():
    sys.exit(f"make_stubs: stubgen wrote no {stub}")
text = stub.read_text()
if "\n__version__" not in text:
    stub.write_text(text.rstrip("\n") + "\n\n__version__: str\n")
