"""Imports in the block's symbols, the name under which numpy is reachable, the numpy alias
mark, and dotted names read with every import alias undone."""
import ast
import textwrap

import pytest

from pyx_helpers import pyx_lines


@pytest.fixture
def A(zel_ns):
    return zel_ns.ZELAst


def walk_imports(A, src):
    """Runs the import rewriting over the statements of `src` in one module block."""
    tree = ast.parse(textwrap.dedent(src))
    ci = A.BlockInfo(tree)
    for node in tree.body:
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            A.reform_Stmt(node, ci)
    return tree, ci


def expr(src):
    return ast.parse(src, mode="eval").body


def dup_aliases(A, tree):
    return [(a.name, a.asname) for node in tree.body if isinstance(node, ast.Import)
            for a in node.names if getattr(a, A.cidx, None) == "DUP"]


def test_import_enters_bound_names_pointing_at_the_statement(A):
    tree, ci = walk_imports(A, "import os, numpy.linalg, numpy as np, sys as system\n")
    stmt = tree.body[0]
    assert ci.symbol == {"os": stmt, "numpy.linalg": stmt, "np": stmt, "system": stmt}
    assert all(v is stmt for v in ci.symbol.values())


def test_import_from_enters_bound_names(A):
    tree, ci = walk_imports(A, "from os import path as p, sep\nfrom m import *\n")
    assert ci.symbol == {"p": tree.body[0], "sep": tree.body[0], "*": tree.body[1]}
    assert not hasattr(tree.body[0], A.cidx)


def test_a_later_import_replaces_the_entry(A):
    tree, ci = walk_imports(A, "import a as x\nfrom b import c as x\n")
    assert ci.symbol["x"] is tree.body[1]


@pytest.mark.parametrize(
    "src, numpy_name, dup",
    [
        ("import os\n", None, []),
        ("import numpy as np\nimport numpy\n", "numpy", [("numpy", "np"), ("numpy", None)]),
        ("import numpy as np, numpy\n", "numpy", [("numpy", "np"), ("numpy", None)]),
        ("from numpy import zeros\nimport numpy as np\n", "np", [("numpy", "np")]),
        ("import numpy as np\nfrom numpy import zeros\n", "np", [("numpy", "np")]),
        ("from numpy import zeros\n", "_zel_numpy_", []),
        ("from numpy.linalg import norm\n", None, []),
        ("import numpy.linalg as la\n", None, []),
        ("import numpy.linalg\n", None, []),
    ],
)
def test_numpy_name_and_alias_marks(A, src, numpy_name, dup):
    tree, _ = walk_imports(A, src)
    assert A.numpy_name == numpy_name
    assert dup_aliases(A, tree) == dup
    assert all(not hasattr(node, A.cidx) for node in tree.body)


def test_import_inside_a_function_is_known_there_only(A):
    tree = ast.parse("import zel\ndef f():\n    import numpy as np\n")
    log = []
    original = A.reform_Import
    A.reform_Import = classmethod(lambda cls, n, ci: (log.append(ci), original(n, ci)))
    A.reform_FunctionDef = classmethod(
        lambda cls, n, ci: cls.reform_Stmt(n.body, cls.BlockInfo(n, ci).set_name(n.name)))
    A.restruct(tree)
    module, func = log
    assert module.get_symbol("np") == (None, "np")
    assert func.get_symbol("np")[0] is tree.body[1].body[0]
    assert func.get_symbol("zel")[0] is tree.body[0]


@pytest.mark.parametrize(
    "src, expression, dotted",
    [
        ("import numpy as np", "np.zeros", "numpy.zeros"),
        ("import numpy as np", "np.float64", "numpy.float64"),
        ("import numpy", "numpy.int32", "numpy.int32"),
        ("from numpy import zeros", "zeros", "numpy.zeros"),
        ("from numpy import float32 as single", "single", "numpy.float32"),
        ("import zel as z", "z.range", "zel.range"),
        ("from zel import projection", "projection", "zel.projection"),
        ("import numpy.random as npr", "npr.rand", "numpy.random.rand"),
        ("import numpy as np", "np.random.rand", "np.random.rand"),
        ("from os import path", "path.join", "path.join"),
        ("x = 1", "x", "x"),
        ("import numpy as np", "np", "np"),
        ("from m import a as b, b as c", "b", "m.a"),
        ("from m import a as b, b as c", "c", "m.b"),
        ("from os.path import join", "join", "os.path.join"),
        ("import numpy.linalg as la", "la.norm", "numpy.linalg.norm"),
        ("import numpy.linalg", "numpy.linalg.norm", "numpy.linalg.norm"),
        ("", "'i4'", "'i4'"),
        ("import numpy as np", "np.zeros((3, 4))", "np.zeros((3, 4))"),
        ("from . import m", "m", ".m"),
        ("from .. import m as k", "k", ".m"),
    ],
)
def test_convert_import_name_str(A, src, expression, dotted):
    _, ci = walk_imports(A, src)
    assert A.convert_import_name_str(expr(expression), ci) == dotted


def test_resolution_looks_through_enclosing_blocks(A):
    _, module = walk_imports(A, "import numpy as np\nfrom zel import range as zr\n")
    loop = A.BlockInfo(ast.parse("for i in x: pass").body[0], module)
    assert A.convert_import_name_str(expr("np.zeros"), loop) == "numpy.zeros"
    assert A.convert_import_name_str(expr("zr"), loop) == "zel.range"
    loop.set_symbol("np", ast.parse("np = f()").body[0])  # shadowed by a plain binding
    assert A.convert_import_name_str(expr("np.zeros"), loop) == "np.zeros"


def test_numpy_imported_in_a_function_is_cimported_only_at_module_level(zel_ns):
    lines = pyx_lines(
        zel_ns,
        """
        import zel
        def total(n: int) -> float:
            import numpy as np
            return float(np.arange(n).sum())
        """,
    )
    assert "    import numpy as np" in lines
    assert not any("cimport numpy" in line for line in lines)


NUMPY_IN_FUNCTIONS = """\
import zel


def total(n: int) -> float:
    import numpy as np
    return float(np.arange(n).sum())


def column(n):
    import numpy as np
    a = np.zeros(n, 'f8')
    for i in range(n):
        a[i] = i * 0.5
    return a.tolist()


if __name__ == "__main__":
    import numpy
    print(total(5), column(3), numpy.ones(2).tolist())
"""


def test_numpy_imported_in_functions_runs_as_cpython(runner):
    runner.assert_prints_as_cpython("numpy_inside.py", NUMPY_IN_FUNCTIONS)
