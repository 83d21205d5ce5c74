# Sphinx configuration of orbrix's documentation. scripts/docs builds it:
#   sphinx-build -W --keep-going -n docs build/docs/html
# with ORBRIX_DOXYGEN_XML naming Doxygen's XML of the installed headers and
# the installed Python package on PYTHONPATH.

import os
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def _version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"project\(orbrix VERSION ([0-9.]+)", text).group(1)


project = "orbrix"
author = "The orbrix authors"
copyright = "The orbrix authors, Apache License 2.0"
release = version = _version()

extensions = [
    "myst_parser",
    "breathe",
    "sphinx.ext.autodoc",
]
source_suffix = {".md": "markdown", ".rst": "restructuredtext"}
exclude_patterns = ["examples/**", "doxygen/**", "tools/**", "_build"]
myst_heading_anchors = 3

html_theme = "sphinx_rtd_theme"
html_title = f"orbrix {release}"

breathe_projects = {"orbrix": os.environ.get("ORBRIX_DOXYGEN_XML", str(ROOT / "build/docs/doxygen/xml"))}
breathe_default_project = "orbrix"
breathe_default_members = ("members",)
primary_domain = "cpp"
highlight_language = "none"

autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_default_options = {"members": True, "undoc-members": False}

nitpicky = True
# The C++ signatures name types of the installed headers these pages do not
# render one by one (the records, Variant, ...): an unresolved identifier in a
# signature is not a broken link. References written in the pages
# ({cpp:class}, {cpp:func}) are still checked.
# Names that appear in signatures but belong to other projects' documentation
# (the standard libraries of C++ and Python, pybind11, pandas, Dask), which is
# not linked from here.
nitpick_ignore_regex = [
    (r"cpp:identifier", r".*"),
    (r"py:.*", r"(typing|collections|datetime|os|pathlib|pandas|distributed|numpy|pybind11_builtins)\..*"),
    (r"py:.*", r"(object|int|float|str|bool|bytes|None|list|dict|tuple|Callable|Any|Optional|Sequence|Iterator|Mapping|Union|function)"),
]


def _plain_text_docstring(app, what, name, obj, options, lines):
    """The package's docstrings are plain text written for help() (aligned
    tables of fields, indented examples), not reStructuredText: show each as
    it reads there."""
    while lines and not lines[-1].strip():
        lines.pop()
    if lines:
        lines[:] = ["::", ""] + ["   " + line for line in lines] + [""]


def _drop_unnamed_group_headings(app, doctree):
    """A comment above several declarations in a row documents each of them
    (a Doxygen member group, see doxygen/comment_filter.py); Breathe heads
    such a group "Unnamed Group", which tells the reader nothing."""
    from docutils import nodes

    for rubric in list(doctree.findall(nodes.rubric)):
        if rubric.astext() == "Unnamed Group":
            rubric.parent.remove(rubric)


def setup(app):
    app.connect("autodoc-process-docstring", _plain_text_docstring)
    app.connect("doctree-read", _drop_unnamed_group_headings)
