"""The checks scripts/docs runs: they must fail on what they guard against,
and pass what is fine."""

import types

from check_docstrings import undocumented
from check_readme_snippets import main as check_readme


def test_undocumented_names_are_found_and_documented_ones_pass():
    module = types.ModuleType("fake")

    def documented():
        """Does a thing."""

    def bare():
        pass

    class Record:
        """A record. Fields: price  the price"""

        price = property(lambda self: 1)  # described in the class's docstring
        size = property(lambda self: 2)   # described nowhere

        def method(self):
            pass

    module.documented, module.bare, module.Record, module._private = documented, bare, Record, bare
    assert sorted(undocumented(module)) == ["Record.method", "Record.size", "bare"]


def test_an_enums_own_members_are_left_out():
    module = types.ModuleType("fake")

    class Side:
        """LONG or SHORT."""

        __members__ = {}
        value = property(lambda self: 0)

    module.Side = Side
    assert undocumented(module) == []


def test_a_readme_block_must_be_taken_from_an_example(tmp_path, monkeypatch):
    examples = tmp_path / "examples"
    examples.mkdir()
    (examples / "a.py").write_text("import x\nprint(x)\nprint('more')\n")
    readme = tmp_path / "README.md"
    readme.write_text("text\n```python\nimport x\nprint(x)\n```\n")
    monkeypatch.setattr("sys.argv", ["check", str(readme), str(examples)])
    assert check_readme() == 0
    readme.write_text("```python\nimport x\nprint(y)\n```\n")
    assert check_readme() == 1
