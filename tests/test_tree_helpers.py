"""The small queries the rewriting methods share: parameters of a call, access modes,
dimensions of a shape, the memory-view suffix and comparison by source text."""
import ast

import pytest


@pytest.fixture
def A(zel_ns):
    return zel_ns.ZELAst


def expr(src):
    return ast.parse(src, mode="eval").body


@pytest.mark.parametrize(
    "call, param, expected",
    [
        ("numpy.genfromtxt('f.csv', float)", "dtype", "float"),
        ("numpy.genfromtxt('f.csv', dtype=float)", "dtype", "float"),
        ("numpy.genfromtxt('f.csv', int, dtype=float)", "dtype", "int"),  # position wins
        ("numpy.genfromtxt('f.csv', **kw)", "dtype", None),
        ("numpy.genfromtxt('f.csv')", "dtype", None),  # no default for dtype
        ("numpy.genfromtxt('f.csv', float, '#', ',')", "delimiter", "','"),
        ("numpy.genfromtxt('f.csv', delimiter=';')", "delimiter", "';'"),
    ],
)
def test_get_parameter(zel_ns, call, param, expected):
    info = zel_ns.ZELConst.param_numpy_genfromtxt
    found = zel_ns.ZELAst.get_parameter(expr(call), param, info)
    assert (None if found is None else ast.unparse(found)) == expected


def test_get_parameter_falls_back_to_the_default(zel_ns):
    info = zel_ns.ZELConst.param_numpy_genfromtxt
    found = zel_ns.ZELAst.get_parameter(expr("numpy.genfromtxt('f.csv')"), "delimiter", info)
    offset = len(info["args"]) - len(info["defaults"])
    assert found is info["defaults"][info["args"].index("delimiter") - offset]


def test_get_parameter_of_other_nodes_and_surplus_positions(A):
    info = {"args": ["a", "b"], "defaults": [ast.Constant(2)]}
    assert A.get_parameter(ast.Name("f"), "a", info) is None
    call = expr("f(1, 2, 3, 4)")
    assert A.get_parameter(call, "c", info) is None
    assert A.get_parameter(call, "b", info) is call.args[1]
    assert A.get_parameter(expr("f()"), "b", info) is info["defaults"][0]


@pytest.mark.parametrize(
    "org, new, merged",
    [("r", "w", "rw"), ("rw", "Aw", "Arw"), ("r", "Fw", "Frw"), ("r", "r", "r"), ("", "", "")],
)
def test_merge_ref_type(A, org, new, merged):
    assert A.merge_ref_type(org, new) == merged
    assert A.__dict__["merge_ref_type"].__class__ is staticmethod


@pytest.mark.parametrize(
    "shape, dims",
    [
        (expr("(3, 4)"), 2),
        (expr("(n,)"), 1),
        ([1, 2, 3], 3),
        ((1, 2), 2),
        (expr("10"), 1),
        (expr("n"), 1),
        (expr("[3, 4]"), 0),  # a list display is not a shape tuple
        (expr("n * 2"), 1),
        (expr("len(a)"), 1),
        (None, 0),
    ],
)
def test_dim_from_shape(A, shape, dims):
    assert A.dim_from_shape(shape) == dims


@pytest.mark.parametrize(
    "dm, text", [(1, "[::1]"), (2, "[:,::1]"), (3, "[:,:,::1]"), (0, None), (-1, None)]
)
def test_view_dim_str(A, dm, text):
    assert A.view_dim_str(dm) == text


@pytest.mark.parametrize(
    "a, b, same",
    [
        (ast.Name("len"), "len", True),
        ("len", ast.Name("len"), True),
        (ast.Name("len"), ast.Name("lens"), False),
        (expr("np.zeros"), "np.zeros", True),
        (expr("a[i + 1]"), expr("a[(i+1)]"), True),
        ("x", "y", False),
    ],
)
def test_equal(A, a, b, same):
    assert A.equal(a, b) is same


def test_equal_of_a_value_that_is_not_a_node_raises(A):
    with pytest.raises(AttributeError):
        A.equal(3, "3")
