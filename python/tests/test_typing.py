"""The package as a type checker and help() see it: the stub stubgen made at
build time, the examples checked by mypy --strict against it, and the
docstrings of the calls an engine writer reads first."""

import ast
import importlib.util
import inspect
import os
import pydoc
import subprocess
import sys
from pathlib import Path

import pytest

import orbrix_cqg as cqg
import orbrix_cqg._core as core

REPO = Path(__file__).resolve().parents[2]
PACKAGE = Path(cqg.__file__).parent
STUB = PACKAGE / "_core.pyi"


def stub_tree():
    return ast.parse(STUB.read_text(), filename=str(STUB))


def test_the_stub_is_installed_beside_py_typed_and_covers_the_module():
    assert (PACKAGE / "py.typed").is_file()
    tree = stub_tree()  # a docstring stubgen took for a type would not parse
    defined = {n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    defined |= {n.target.id for n in tree.body if isinstance(n, ast.AnnAssign)}
    public = {n for n in dir(core) if not n.startswith("_")}
    assert public <= defined, sorted(public - defined)
    assert "__version__" in defined


def test_no_signature_in_the_stub_fell_back_to_any():
    """stubgen writes (*args, **kwargs) -> Any where it could not read a
    signature (a docstring that breaks its parser, a parameter list it does
    not know); only classes Python cannot construct may have that
    __init__."""
    fallbacks, anys = [], []
    for cls in (n for n in stub_tree().body if isinstance(n, ast.ClassDef)):
        for fn in (n for n in cls.body if isinstance(n, ast.FunctionDef)):
            a = fn.args
            if a.vararg and a.kwarg and len(a.args) <= 1 and not a.kwonlyargs:
                fallbacks.append(f"{cls.name}.{fn.name}")
            if "Any" in ast.unparse(fn):
                anys.append(f"{cls.name}.{fn.name}")
    assert not anys
    for name in fallbacks:
        cls_name, method = name.split(".")
        assert method == "__init__", name
        with pytest.raises(TypeError, match="No constructor defined"):
            getattr(core, cls_name)()


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
def test_the_examples_pass_mypy_strict(tmp_path):
    """The package is found as an installed one (py.typed, on the module
    search path), as a user's mypy finds it: the examples are checked
    against the stub, the stub itself is not."""
    examples = sorted(str(p) for p in (REPO / "examples" / "python").glob("*.py"))
    assert examples
    env = dict(os.environ, PYTHONPATH=str(PACKAGE.parent))
    env.pop("MYPYPATH", None)
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path), *examples],
        cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr


def help_text(obj):
    return pydoc.render_doc(obj, renderer=pydoc.plaintext)


@pytest.mark.parametrize("obj, phrases", [
    (cqg.BrokerLink.place_order,
     ["-> str", "seconds", "Engine thread", "GIL", "KeyboardInterrupt", "may be working",
      "ValueError", "KeyError", "RuntimeError", "DisconnectedError"]),
    (cqg.BrokerLink.Logon,
     ["user_name: str", "seconds", "Engine thread", "KeyboardInterrupt", "RuntimeError",
      "GW connection timeout!", "DisconnectedError"]),
    (cqg.Event.wait, ["seconds: float", "math.inf", "KeyboardInterrupt", "ValueError"]),
    (cqg.BaseGateway,
     ["process_quote", "worker thread", "GIL", "traceback", "hook_errors", "KeyError"]),
    (cqg.ApiHost.Init,
     ["-> orbrix_cqg._core.BrokerLink", "Callable[[orbrix_cqg._core.VendorObject], None]",
      "Blocks", "TypeError", "RuntimeError"]),
])
def test_help_says_units_threads_and_errors(obj, phrases):
    text = help_text(obj)
    missing = [p for p in phrases if p not in text]
    assert not missing, text


def test_every_public_class_and_callable_has_a_docstring():
    def described(fn, name):
        lines = (fn.__doc__ or "").splitlines()
        return any(line.strip() and not line.startswith(name + "(")
                   and line.strip() != "Overloaded function." and not line[:1].isdigit()
                   for line in lines)

    bare = []
    for name, obj in vars(core).items():
        if name.startswith("_"):
            continue
        if inspect.isclass(obj):
            if not (obj.__doc__ or "").strip():
                bare.append(name)
            for member, value in vars(obj).items():
                fn = value.__func__ if isinstance(value, staticmethod) else value
                if member.startswith("_") or isinstance(fn, property) or inspect.isclass(fn):
                    continue
                if callable(fn) and not described(fn, member):
                    bare.append(f"{name}.{member}")
        elif callable(obj) and not described(obj, name):
            bare.append(name)
    assert not bare
