"""Calls: record dtypes and arrays described from numpy calls, keyed lookups, pseudo-calls, len()."""
import ast
import textwrap

import pytest

from pyx_helpers import rewrite


def value_of(ns, source, index=-1):
    """The value of a statement of the rewritten module (the last one by default)."""
    return rewrite(ns, source).body[index].value


def call_tag(ns, node):
    return getattr(node, ns.ZELAst.call, None)


def test_record_dtype_is_described_field_by_field(zel_ns):
    node = value_of(
        zel_ns,
        """
        import numpy as np
        dt = np.dtype([('name', 'S10'), ('price', 'f8'), ('qty', 'i4', (3,)), ('n', np.int64)])
        """,
    )
    info = call_tag(zel_ns, node)
    assert isinstance(info, zel_ns.ZELAst.StructInfo)
    assert info.name == ""
    assert info.var == ["name", "price", "qty", "n"]
    assert info.typ == ["char", "double", "int", "long long"]
    assert isinstance(info.shp[0], ast.Constant) and info.shp[0].value == 10
    assert info.shp[1] is None and info.shp[3] is None
    assert ast.unparse(info.shp[2]) == "(3,)"


@pytest.mark.parametrize(
    "fields",
    [
        "[('a', 'f8'), ('b', 'S0')]",
        "[('a', 'f8'), ('b', 'S4', (2,))]",
        "[('a', 'f8'), ('b', 'c16')]",
        "[('a', 'f8'), ['b', 'i4']]",
        "[('a', 'f8'), (1, 'i4')]",
        "[]",
        "'f8'",
        # A text length that cannot be read at compile time.
        "[('a', 'Sx')]",
        "[('a', 'S%d' % w), ('v', 'i8')]",
        "[('a', 'S' + str(w))]",
        "[('a', 'S99999999999999999999')]",
    ],
)
def test_rejected_dtype_gets_no_description(zel_ns, fields):
    node = value_of(zel_ns, f"import numpy as np\ndt = np.dtype({fields})")
    assert call_tag(zel_ns, node) is None


@pytest.mark.parametrize(
    "call, described",
    [
        ("np.zeros((n, m), 'f8')", ("(n, m)", "'f8'")),
        ("np.zeros(3, 'i4')", ("3", "'i4'")),
        ("np.zeros((n, m))", None),
        ("np.zeros((n, m), dtype='f8')", None),
        ("np.genfromtxt('a.csv', 'f8')", ("(0, 1)", "'f8'")),
        ("np.genfromtxt('a.csv', dtype=float, delimiter=',')", ("(0, 1)", "float")),
        ("np.genfromtxt('a.csv', dtype=rec)", ("0", "rec")),
        ("np.genfromtxt('a.csv')", None),
    ],
)
def test_array_description_of_numpy_calls(zel_ns, call, described):
    node = value_of(
        zel_ns,
        f"""
        import numpy as np
        rec = np.dtype([('k', 'i4')])
        x = {call}
        """,
    )
    tag = call_tag(zel_ns, node)
    if described is None:
        assert tag is None
    else:
        assert isinstance(tag, ast.Tuple)
        assert tuple(ast.unparse(e) for e in tag.elts) == described


def test_pseudo_calls_fold_to_constants(zel_ns):
    tree = rewrite(
        zel_ns,
        """
        import zel
        import numpy as np
        x: int = 1
        a = np.zeros((3, 4), np.float64)
        u = 2
        print(zel.level(), zel.type(x), zel.type(a), zel.type(u), zel.lineno())
        def f():
            if True:
                print(zel.depth())
            return zel.depth()
        """,
    )
    assert ast.unparse(tree.body[5]) == "print(0, 'int', '((3, 4), np.float64)', 'PyObj', 7)"
    func = tree.body[6]
    assert ast.unparse(func.body[0].body[0]) == "print(1)"
    assert ast.unparse(func.body[1]) == "return 0"


def test_pseudo_calls_under_other_names(zel_ns):
    tree = rewrite(
        zel_ns,
        """
        import zel as z
        from zel import level
        print(z.lineno(), level(), z.type(), z.unknown())
        """,
    )
    assert ast.unparse(tree.body[2]) == "print(4, 0, z.type(), z.unknown())"


@pytest.mark.parametrize(
    "where, lookup, struct",
    [("module", "_lookup_dt", "_struct_dt"), ("function", "_lookup__fdt", "_struct_dt_f")],
)
def test_call_through_struct_view_becomes_lookup(zel_ns, where, lookup, struct):
    body = """
        dt = np.dtype([('name', 'S8'), ('qty', 'i4')])
        tbl = np.zeros(10, dt)
        i = tbl('k', 2)
    """
    if where == "function":
        body = "def f():" + textwrap.indent(textwrap.dedent(body), "    ")
    tree = rewrite(zel_ns, "import numpy as np\n" + textwrap.dedent(body))
    assert f"i = {lookup}(tbl, 'k', 2)" in ast.unparse(tree)
    count, struct_name, info = zel_ns.ZELAst.lookup_def[lookup]
    assert (count, struct_name) == (2, struct)
    assert info.var == ["name", "qty"]


def test_call_through_plain_typed_array_stays(zel_ns):
    tree = rewrite(zel_ns, "import numpy as np\na = np.zeros(3, 'f8')\nb = a(1)")
    assert ast.unparse(tree.body[-1]) == "b = a(1)"
    assert zel_ns.ZELAst.lookup_def == {}


@pytest.mark.parametrize(
    "function, result",
    [
        ("def f(x: ((10,), 'f8')) -> int:\n    return len(x)", "return x.shape[0]"),
        ("def f(x: ((10,), 'f8')) -> int:\n    return len(x, 1)", "return len(x, 1)"),
        ("def f(x: ((10,), 'f8'), y: int) -> int:\n    return len(y)", "return len(y)"),
        ("def f(x: ((10,), 'f8'), y):\n    return len(x)", "return len(x)"),
    ],
)
def test_len_of_typed_array_in_compiled_function(zel_ns, function, result):
    tree = rewrite(zel_ns, function)
    assert ast.unparse(tree.body[0].body[0]) == result


def test_len_at_module_level_stays(zel_ns):
    tree = rewrite(zel_ns, "import numpy as np\na = np.zeros(3, 'f8')\nn = len(a)")
    assert ast.unparse(tree.body[-1]) == "n = len(np.asarray(a))"
