#!/usr/bin/env python3
"""Fails when a public name of orbrix_cqg has no docstring.

Every public function and class of the package, and every public method of
its classes, must have one. A field (a property) may instead be described in
its class's docstring, as the records' fields are (a table of field and
meaning), so a property without its own docstring passes when its class's
docstring names it. The members pybind11 gives every enum (`name`, `value`)
are its own and left out.
"""

import inspect
import sys

ENUM_MEMBERS = {"name", "value"}


def undocumented(module):
    out = []
    for name in sorted(dir(module)):
        if name.startswith("_"):
            continue
        obj = getattr(module, name)
        if inspect.ismodule(obj) or not (inspect.isclass(obj) or callable(obj)):
            continue
        if not (getattr(obj, "__doc__", None) or "").strip():
            out.append(name)
        if not inspect.isclass(obj):
            continue
        is_enum = hasattr(obj, "__members__")
        class_doc = obj.__doc__ or ""
        for member, value in vars(obj).items():
            if member.startswith("_") or isinstance(value, (int, float, str, obj)):
                continue
            if is_enum and member in ENUM_MEMBERS:
                continue
            if (getattr(value, "__doc__", None) or "").strip():
                continue
            if isinstance(value, property) and member in class_doc:
                continue
            out.append(f"{name}.{member}")
    return out


def main():
    import orbrix_cqg

    missing = undocumented(orbrix_cqg)
    for name in missing:
        print(f"orbrix_cqg.{name}: no docstring", file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
