"""ZEL.unparse: the .pyx text joined from the emitter's pieces, the line map read from its markers."""
import ast

import pytest


class Piece(str):
    """A str subclass: still a piece of text that may be a marker."""


class NotText:
    def __init__(self, text):
        self.text = text

    def __str__(self):
        return self.text


def unparse_pieces(ns, pieces, tree=None, openmp=False):
    """Runs ZEL.unparse with an emitter whose output is the given pieces."""
    seen = {}

    def traverse(self, node):
        seen["tree"] = node

    def finalize(self):
        self._source.extend(pieces)

    ns.ZELUnparser.traverse = traverse
    ns.ZELUnparser.finalize = finalize
    tree = ast.Module(body=[], type_ignores=[]) if tree is None else tree
    text, line_map = ns.ZEL.unparse(tree, openmp)
    assert seen["tree"] is tree
    return text, line_map


@pytest.mark.parametrize(
    "pieces, expected_map",
    [
        ([], {}),
        (["x = 1", "#lInE3EnIl"], {1: 3}),
        (["x = 1", "#lInE1EnIl", "\n", "y = 2", "#lInE2EnIl"], {1: 1, 2: 2}),
        # a line without a marker has no key
        (["class A:", "\n", "    pass", "#lInE2EnIl"], {2: 2}),
        (["from x import y", "#lInE-1EnIl", "\n", "z", "#lInE5EnIl"], {1: -1, 2: 5}),
        # a second marker on one line replaces the first
        (["a", "#lInE1EnIl", "#lInE9EnIl"], {1: 9}),
        # a piece spanning lines moves the count by each of its line breaks, and each line it
        # spans is the marker's that ends it: Cython names a statement by its first line
        (['"""one\ntwo\nthree"""', "#lInE1EnIl", "\n", "x = 1", "#lInE4EnIl"],
         {1: 1, 2: 1, 3: 1, 4: 4}),
        # an empty line between output lines has no key
        (["s = f'{x}'", "#lInE3EnIl", "\n", "\n", "y", "#lInE6EnIl"], {1: 3, 3: 6}),
        ([Piece("#lInE7EnIl")], {1: 7}),
        # only the ends make a marker
        (["x = '#lInE'", "\n", "EnIl", "#lInE2EnIl"], {2: 2}),
        # a piece that is not text is written but neither read nor counted
        ([NotText("#lInE4EnIl"), NotText("\n"), "b", "#lInE6EnIl"], {1: 6}),
    ],
)
def test_line_map_from_markers(zel_ns, pieces, expected_map):
    text, line_map = unparse_pieces(zel_ns, pieces)
    assert text == "".join(map(str, pieces))
    assert line_map == expected_map
    assert all(type(k) is int and type(v) is int for k, v in line_map.items())


@pytest.mark.parametrize("marker", ["#lInEabcEnIl", "#lInEEnIl", "#lInEnIl", "#lInE1.5EnIl"])
def test_unreadable_marker(zel_ns, marker):
    with pytest.raises(zel_ns.ZEL.Error) as caught:
        unparse_pieces(zel_ns, ["x = 1", marker])
    assert str(caught.value) == "unparse error while linemap."


def test_openmp_prefix_heads_the_module(zel_ns):
    tree = ast.parse("x = 1")
    script_statement = tree.body[0]
    unparse_pieces(zel_ns, [], tree=tree, openmp=True)
    prange_import, openmp_import, rest = tree.body
    assert ast.unparse(prange_import) == "from cython.parallel import prange as _cp_prange_"
    assert ast.unparse(openmp_import) == "import openmp"
    assert prange_import.lineno == openmp_import.lineno == -1
    assert openmp_import._cdef_ is True
    assert not hasattr(prange_import, "_cdef_")
    assert rest is script_statement


@pytest.mark.parametrize(
    "source, head",
    [
        ('"""doc"""\nfrom __future__ import annotations\nx = 1', 2),
        ("from __future__ import annotations\nfrom __future__ import division\nx = 1", 2),
        # The docstring as the compile leaves it.
        ("pass\nfrom __future__ import annotations\nx = 1", 2),
        ('"""doc"""\nx = 1', 1),
    ],
)
def test_openmp_prefix_follows_docstring_and_future_imports(zel_ns, source, head):
    tree = ast.parse(source)
    leading = tree.body[:head]
    unparse_pieces(zel_ns, [], tree=tree, openmp=True)
    assert tree.body[:head] == leading
    assert [ast.unparse(s) for s in tree.body[head:head + 2]] == [
        "from cython.parallel import prange as _cp_prange_", "import openmp"]


@pytest.mark.parametrize("openmp, expected", [
    (True, ["from cython.parallel import prange as _cp_prange_", "import openmp",
            "import cython as _zel_cython_"]),
    (False, ["import cython as _zel_cython_"]),
])
def test_prologue_cimports_directives_for_a_tagged_module(zel_ns, openmp, expected):
    tree = ast.parse('"""doc"""\nfrom __future__ import annotations\nx = 1')
    tree._zel_cython_ = True
    unparse_pieces(zel_ns, [], tree=tree, openmp=openmp)
    prologue = tree.body[2:2 + len(expected)]
    assert [ast.unparse(s) for s in prologue] == expected
    assert ast.unparse(tree.body[-1]) == "x = 1"
    assert all(s.lineno == -1 for s in prologue)
    assert prologue[-1]._cdef_ is True


def test_parallel_script_with_future_import_runs(runner):
    # The second loop's accesses are tested once before it, which switches Cython's checks off.
    source = ('"""A parallel sum."""\nfrom __future__ import annotations\nimport zel\n'
              "import numpy as np\n\n"
              "total: int = 0\nfor i in zel.range(5):\n    total += i\nprint(total)\n"
              "n: int = 6\na = np.zeros(n, 'f8')\nb = np.zeros(n, 'f8')\n"
              "for i in zel.range(1, n - 1):\n    a[i] = b[i - 1] + b[i + 1] + i\n"
              "print(a.sum())\n")
    result = runner.run_script("future.py", source)
    assert (result.stdout, result.returncode) == ("# COMPILE..\n# RUN\n10\n10.0\n", 0)


@pytest.mark.parametrize(
    "tree, openmp",
    [
        (ast.parse("x = 1"), False),
        (ast.parse("x = 1"), 0),
        (ast.parse("x", mode="eval"), True),
        (ast.parse("x = 1").body[0], True),
    ],
)
def test_no_prefix(zel_ns, tree, openmp):
    before = ast.dump(tree)
    unparse_pieces(zel_ns, [], tree=tree, openmp=openmp)
    assert ast.dump(tree) == before


def test_openmp_is_the_default(zel_ns):
    tree = ast.parse("x = 1")
    zel_ns.ZELUnparser.traverse = lambda self, node: None
    zel_ns.ZELUnparser.finalize = lambda self: None
    zel_ns.ZEL.unparse(tree)
    assert len(tree.body) == 3


def test_emitter_errors_propagate(zel_ns):
    def traverse(self, node):
        raise KeyError("boom")

    zel_ns.ZELUnparser.traverse = traverse
    with pytest.raises(KeyError):
        zel_ns.ZEL.unparse(ast.parse("x = 1"), False)


# With the real emitter: markers name the script lines, the prefix lines carry -1.


def real_unparse(ns, source, openmp=False):
    return ns.ZEL.unparse(ast.parse(source), openmp)


def test_real_emitter_marks_every_statement_line(zel_ns):
    text, line_map = real_unparse(zel_ns, "\n\nx = 1\nif x:\n    y = 2\nelse:\n    y = 3\n")
    assert text.split("\n") == [
        "x = 1#lInE3EnIl",
        "if x:#lInE4EnIl",
        "    y = 2#lInE5EnIl",
        "else:#lInE5EnIl",
        "    y = 3#lInE7EnIl",
    ]
    assert line_map == {1: 3, 2: 4, 3: 5, 4: 5, 5: 7}


def test_real_emitter_with_openmp_prefix(zel_ns):
    text, line_map = real_unparse(zel_ns, "x = 1\n", openmp=True)
    lines = text.split("\n")
    assert lines[0] == "from cython.parallel import prange as _cp_prange_#lInE-1EnIl"
    assert lines[1].endswith("import openmp#lInE-1EnIl")
    assert lines[2] == "x = 1#lInE1EnIl"
    assert line_map == {1: -1, 2: -1, 3: 1}


def test_real_emitter_docstring_spanning_lines(zel_ns):
    source = 'def f():\n    """one\n    two"""\n    return 1\nx = f()\n'
    text, line_map = real_unparse(zel_ns, source)
    lines = text.split("\n")
    assert lines[2].endswith("#lInE1EnIl") and not lines[1].endswith("EnIl")
    assert line_map == {1: 1, 2: 1, 3: 1, 4: 4, 5: 5}


def test_real_emitter_empty_module(zel_ns):
    assert real_unparse(zel_ns, "") == ("", {})


# A string that spans lines inside an f-string is written as one piece holding its line breaks:
# the statement's first line, which Cython names, carries no marker of its own.
SPANNING_F_STRING = """
import zel
import sys


def describe(x: int) -> str:
    return f'''{x} {\"\"\"a
b\"\"\"}'''


x = 3
s = f\"\"\"{x} {'''a
b'''}\"\"\"
print(s, describe(4))
z = 0
try:
    t = f\"\"\"{1 / z} {'''c
d'''}\"\"\"
except ZeroDivisionError:
    print('line', sys.exc_info()[2].tb_lineno)
"""


def test_f_string_spanning_lines_builds_and_reports_its_line(runner):
    runner.assert_prints_as_cpython("spanning.py", SPANNING_F_STRING)
