"""Names, subscripts, field access and C string comparison on typed data."""
import ast
import textwrap

import pytest

from pyx_helpers import emit, pyx_lines, rewrite, without_stack_test

RECORDS = """
import numpy as np
dt = np.dtype([('name', 'S8'), ('qty', 'i4'), ('tag', 'S1'), ('grid', 'S2')])
tbl = np.zeros(10, dt)
"""


def last_line(ns, source):
    return ast.unparse(rewrite(ns, source).body[-1])


@pytest.mark.parametrize(
    "source, line",
    [
        ("import numpy as np\na = np.zeros(3, 'f8')\nprint(a)", "print(np.asarray(a))"),
        ("import numpy\na = numpy.zeros(3, 'f8')\nb = a", "b = numpy.asarray(a)"),
        ("from numpy import zeros\na = zeros(3, 'f8')\nprint(a)", "print(_zel_numpy_.asarray(a))"),
        ("import numpy as np\na = np.zeros(3, 'f8')\na = b", "a = b"),
        ("import numpy as np\na = np.zeros(3, 'f8')\nprint(a[1])", "print(a[1])"),
        ("a: ((3,), 'f8') = f()\nprint(a)", "print(a)"),
        ("import numpy as np\nx = np.zeros(3, 'f8')\nprint(x.sum())", "print(np.asarray(x).sum())"),
    ],
)
def test_typed_array_read_as_value(zel_ns, source, line):
    assert last_line(zel_ns, source) == line


def test_typed_array_in_compiled_function_stays_a_view(zel_ns):
    tree = rewrite(zel_ns, "import numpy as np\ndef f(a: (3, 'f8')) -> 'f8':\n    return g(a)")
    assert ast.unparse(tree.body[-1].body[0]) == "return g(a)"


@pytest.mark.parametrize(
    "comparison, result",
    [
        ("s == 'abc'", "_zel_strcmp_(s, 'abc') == 0"),
        ("'abc' == s", "'abc' == s"),
        # != compares contents where the left side is a C string in C, not its address.
        ("s != 'abc'", "_zel_strcmp_(s, 'abc') != 0"),
        ("s == t == u", "s == t == u"),
        ("tbl[i]['name'] == 'abc'", "_zel_fieldcmp_(tbl[i].name, 8, 'abc', 9) == 0"),
        ("tbl[i]['tag'] == 'x'", "_zel_fieldcmp_(tbl[i].tag, 1, 'x', 2) == 0"),
        ("tbl[i]['name'] != 'abc'", "_zel_field_(tbl[i].name, 8) != 'abc'"),
        ("'abc' == tbl[i]['name']", "'abc' == _zel_field_(tbl[i].name, 8)"),
        ("tbl[i]['name']", "_zel_field_(tbl[i].name, 8)"),
        ("tbl[i]['qty'] == 3", "tbl[i].qty == 3"),
        ("p['name'] == 'abc'", "_zel_fieldcmp_(p.name, 8, 'abc', 9) == 0"),
        # Both sides text members: each read within its own length; also written as attributes.
        ("tbl[1]['name'] == tbl[2]['grid']", "_zel_fieldcmp_(tbl[1].name, 8, tbl[2].grid, 2) == 0"),
        ("p.name == tbl[1].name", "_zel_fieldcmp_(p.name, 8, tbl[1].name, 8) == 0"),
        ("s == tbl[1]['name']", "_zel_fieldcmp_(s, 9, tbl[1].name, 8) == 0"),
        ("s != tbl[1].name", "_zel_fieldcmp_(s, 9, tbl[1].name, 8) != 0"),
        ("tbl[1].name", "_zel_field_(tbl[1].name, 8)"),
        ("p['name']", "_zel_field_(p.name, 8)"),
        ("p['qty'] == 3", "p.qty == 3"),
        ("tbl('abc').qty == 3", "tbl[_lookup_dt(tbl, 'abc')].qty == 3"),
        ("tbl('abc').name == 'abc'", "_zel_fieldcmp_(tbl[_lookup_dt(tbl, 'abc')].name, 8, 'abc', 9) == 0"),
    ],
)
def test_string_equality_on_c_strings(zel_ns, comparison, result):
    source = RECORDS + "s: 'S8' = b'abc'\np: dt = tbl[0]\nr = " + comparison
    assert last_line(zel_ns, source) == "r = " + result


@pytest.mark.parametrize(
    "statement, written",
    [
        # Stored in a char* variable: a C string copied from the member (statements in front).
        ("t: 'S8' = tbl[0]['name']", "t: 'S8' = _zel_text_t.s"),
        ("s = tbl[0]['name']", "s = _zel_text_s.s"),
        ("s = p['name']", "s = _zel_text_s.s"),
        ("x = tbl[0]['name']", "x = _zel_field_(tbl[0].name, 8)"),
        # Stored in a text member: cut to its length and padded with NULs.
        ("tbl[i]['name'] = b'abc'", "_zel_setfield_(tbl[i].name, 8, b'abc', 8)"),
        ("tbl[1]['name'] = tbl[0]['name']", "_zel_setfield_(tbl[1].name, 8, tbl[0].name, 8)"),
        ("tbl[i]['tag'] = p['name']", "_zel_setfield_(tbl[i].tag, 1, p.name, 8)"),
        ("tbl[i]['name'] = tbl[0]['grid']", "_zel_setfield_(tbl[i].name, 8, tbl[0].grid, 2)"),
        ("p['name'] = s", "_zel_setfield_(p.name, 8, s, 8)"),
        ("tbl('abc').name = b'x'", "_zel_setfield_(tbl[_lookup_dt(tbl, 'abc')].name, 8, b'x', 8)"),
        ("tbl[1]['qty'] = tbl[0]['qty']", "tbl[1].qty = tbl[0].qty"),
    ],
)
def test_text_members_stored_and_stored_into(zel_ns, statement, written):
    source = RECORDS + "s: 'S8' = b'abc'\np: dt = tbl[0]\n" + statement
    assert last_line(zel_ns, source) == written


def test_text_members_in_compiled_code_are_read_in_place(zel_ns):
    source = RECORDS + """
def f(i: 'i4') -> 'S8':
    g(tbl[i]['name'])
    if tbl[i]['name'] == b'x':
        tbl[i]['tag'] = tbl[i]['name']
    return tbl[i]['name']
"""
    body = rewrite(zel_ns, source).body[-1].body
    assert [ast.unparse(stmt) for stmt in body] == [
        "g(_zel_textcopy_(tbl[i].name, 8).s)",
        "if _zel_fieldcmp_(tbl[i].name, 8, b'x', 9) == 0:\n    _zel_setfield_(tbl[i].tag, 1, tbl[i].name, 8)",
        "return _zel_textret_(tbl[i].name, 8)",
    ]


def test_char_pointer_takes_the_text_not_its_address(zel_ns):
    lines = pyx_lines(zel_ns, RECORDS + "s: 'S8' = b'abc'\ns = b'xy'\ns = tbl[1]['name']")
    assert lines[-4:] == [
        "s = b'xy'",
        "cdef _zel_textbuf_ _zel_text_s",
        "_zel_text_s = _zel_textcopy_(tbl[1].name, 8)",
        "s = _zel_text_s.s",
    ]


@pytest.mark.parametrize("index", ["tbl[i][j]", "tbl[i][0]", "tbl[i][k + 1]"])
def test_non_text_subscripts_of_records_stay(zel_ns, index):
    assert last_line(zel_ns, RECORDS + "r = " + index) == "r = " + index


def test_view_subscript_is_tagged(zel_ns):
    tree = rewrite(zel_ns, RECORDS + "r = tbl[i]")
    subscript = tree.body[-1].value
    view, shape = getattr(subscript, zel_ns.ZELAst.vidx)
    assert ast.unparse(view) == "dt" and ast.unparse(shape) == "(0,)"
    assert getattr(subscript, zel_ns.ZELAst.tidx) is None


@pytest.mark.parametrize(
    "declaration, statement",
    # a text's byte is read as bytes in ordinary code; compiled code has none
    [("def first(s: 'S8') -> int:", "    c: int = s[0]"), (RECORDS + "p: dt = tbl[2]", "c = p[0]")],
)
def test_subscript_of_pointer_must_be_text(zel_ns, capsys, declaration, statement):
    source = declaration + "\n" + statement
    with pytest.raises(SystemExit) as stop:
        rewrite(zel_ns, source)
    assert stop.value.code == 10
    line = len(textwrap.dedent(source).splitlines())
    expected = f"구조체 첨자는 문자열이어야 합니다. {statement.split(' = ')[1]} line {line}\n"
    assert capsys.readouterr().out == expected


class TestProjectionBody:
    """A projection loop's body block, made by hand: bare arrays mean their current element."""

    @pytest.fixture
    def block(self, zel_ns):
        A = zel_ns.ZELAst
        root = A.BlockInfo(ast.Module(body=[], type_ignores=[]))
        for name, shape in [("y", "(n,)"), ("x", "(n, m, k)"), ("z", "(n, m)")]:
            pair = ast.parse(f"({shape}, 'f8')", mode="eval").body
            root.set_symbol(name, A.VariableInfo(ast.arg(name), "double", call=pair))
        loop = ast.parse("for t in zel.projection(i, j, n): pass").body[0]
        proj = {"var": loop.target, "args": loop.iter.args, "range": None}
        return A.BlockInfo(loop, root).set_proj(proj)

    def name(self, text, line=7):
        node = ast.Name(text, ast.Load())
        node.lineno = line
        return node

    @pytest.mark.parametrize("name, result", [("y", "y[t]"), ("x", "x[i, j, t]")])
    def test_bare_array_becomes_element(self, zel_ns, block, name, result):
        for _ in range(2):  # the projection's own arguments stay as they are
            node = self.name(name)
            zel_ns.ZELAst.reform_Name(node, block)
            assert ast.unparse(node) == result
        assert ast.unparse(ast.Tuple(block.get_proj()["args"])) == "(i, j, n)"

    def test_array_of_other_dimension_is_a_fault(self, zel_ns, block, capsys):
        with pytest.raises(SystemExit) as stop:
            zel_ns.ZELAst.reform_Name(self.name("z"), block)
        assert stop.value.code == 10
        assert capsys.readouterr().out == "`z` 배열의 차원을 복원할 수 없습니다. line 7\n"

    @pytest.mark.parametrize(
        "index, result, mark",
        [("x[s]", "x[i, j, s]", "*"), ("x[t - 1]", "x[i, j, t - 1]", "-"),
         ("x[t]", "x[i, j, t]", "T"),
         # Written out in full: marked by its last element, as a completed index is.
         ("x[a, b, t + 1]", "x[a, b, t + 1]", "+"), ("x[a, b, c]", "x[a, b, c]", "*"),
         ("y[t + 1]", "y[t + 1]", "+")],
    )
    def test_view_index_gets_leading_indices(self, zel_ns, block, index, result, mark):
        node = ast.parse(index, mode="eval").body
        zel_ns.ZELAst.reform_Subscript(node, block)
        assert ast.unparse(node) == result
        assert getattr(node, zel_ns.ZELAst.tidx) == mark


def lines_after_table(ns, body):
    lines = without_stack_test(emit(ns, rewrite(ns, "import zel" + RECORDS + body))).splitlines()
    return lines[lines.index("cdef _struct_dt[::1] tbl = np.zeros(10, dt)") + 1:]


@pytest.mark.parametrize(
    "body, written",
    [
        # A struct pointer keeps its array through a hidden view assigned in front of it.
        ("p: dt = tbl[0]\nfor i in range(3):\n    p = tbl[i]",
         ["cdef _struct_dt[::1] _zel_keep_p", "_zel_keep_p = tbl", "cdef _struct_dt* p = &tbl[0]",
          "for i in range(3):", "    _zel_keep_p = tbl", "    p = &tbl[i]"]),
        # A parallel body cannot assign the view: it is assigned in front of the loop.
        ("n: ((10,), 'i8') = np.zeros(10, 'i8')\nfor i in zel.range(10):\n    q: dt = tbl[i]\n    n[i] = q['qty']",
         ["_zel_keep_q = tbl", "with _zel_cython_.boundscheck(False), _zel_cython_.initializedcheck(False):"]),
        ("def f(i: int) -> int:\n    q: dt = tbl[i]\n    return q['qty']",
         ["cdef long long f(long long i) nogil:", "    cdef _struct_dt[::1] _zel_keep_q",
          "    _zel_keep_q = tbl", "    cdef _struct_dt* q = &tbl[i]", "    return q.qty"]),
        # A char* variable points into a copy of its own; a C function returns a copy.
        ("def g(i: int) -> 'S8':\n    u: 'S8' = tbl[i]['name']\n    return u",
         ["cdef char* g(long long i) nogil:", "    cdef _zel_textbuf_ _zel_text_u",
          "    _zel_text_u = _zel_textcopy_(tbl[i].name, 8)", "    cdef char* u = _zel_text_u.s",
          "    return _zel_textret_(u, -1)"]),
        ("def h(i: int) -> 'S8':\n    return tbl[i].name",
         ["cdef char* h(long long i) nogil:", "    return _zel_textret_(tbl[i].name, 8)"]),
        # A parameter may point into the caller's copy of an argument, which ends with its statement.
        ("def k(t: 'S8') -> 'S8':\n    return t",
         ["cdef char* k(char* t) nogil:", "    return _zel_textret_(t, -1)"]),
    ],
)
def test_pointers_and_texts_do_not_outlive_what_they_point_into(zel_ns, body, written):
    lines = lines_after_table(zel_ns, body)
    start = lines.index(written[0])
    assert lines[start:start + len(written)] == written


@pytest.mark.parametrize("statement, written", [
    # Cython would store the value as one number: the array stores it as numpy's.
    ("a[:] = np.arange(3.0)", "np.asarray(a)[:] = np.arange(3.0)"),
    ("m[:, 1] = np.linspace(0.0, 1.0, 3)", "np.asarray(m)[:, 1] = np.linspace(0.0, 1.0, 3)"),
    ("m[0] = [7, 8]", "np.asarray(m)[0] = [7, 8]"),
    ("m[...] = 0.0", "m[...] = 0.0"),
    ("a[1:] = b", "np.asarray(a)[1:] = np.asarray(b)"),
    ("k[1:] = 2.5", "np.asarray(k)[1:] = 2.5"),
    # A number that Cython stores as numpy does, and an element, stay.
    ("a[1:] = -2", "a[1:] = -2"),
    ("a[:] = x", "a[:] = x"),
    ("k[:] = n", "k[:] = n"),
    ("m[1, 0] = g()", "m[1, 0] = g()"),
])
def test_slice_of_a_typed_array_stored_as_numpy(zel_ns, statement, written):
    source = ("import numpy as np\na = np.zeros(3, 'f8')\nb = np.zeros(2, 'f8')\n"
              "m = np.zeros((3, 2), 'f8')\nk = np.zeros(3, 'i8')\nx: float = 1.5\nn: int = 2\n")
    assert last_line(zel_ns, source + statement) == written


@pytest.mark.parametrize("expression, written", [
    ("a[1:-1]", "np.asarray(a)[1:-1]"),
    ("a[...]", "np.asarray(a)[...]"),
    ("m[1]", "np.asarray(m)[1]"),
    ("m[:, 1:3].shape", "np.asarray(m)[:, 1:3].shape"),
    # One element stays the typed array's.
    ("a[2]", "a[2]"),
    ("m[1, 2]", "m[1, 2]"),
])
def test_slices_of_typed_arrays_read_as_numpy(zel_ns, expression, written):
    source = ("import numpy as np\na = np.zeros(6, 'f8')\nm = np.zeros((3, 4), 'i8')\n"
              f"print({expression})")
    assert last_line(zel_ns, source) == f"print({written})"


def test_slices_of_typed_arrays_print_as_numpy_prints_them(runner):
    source = textwrap.dedent("""\
        import zel
        import numpy as np
        a = np.zeros(6, 'f8')
        for i in range(6):
            a[i] = i
        print(a[1:-1], a[2:], a[-2:])
        b = a[1:4]
        b[0] = 9.0
        print(b.sum(), len(b), a[1])
        m = np.zeros((3, 4), 'i8')
        print(m[1], m[:, 1:3].shape)

        def f(x: (0, 'f8')):
            return x[1:-1].mean()
        print(f(a))
    """)
    runner.assert_prints_as_cpython("read_slices.py", source)


def test_slice_of_a_typed_array_in_compiled_code_stays(zel_ns):
    tree = rewrite(zel_ns, "def f(a: (3, 'f8'), x: float) -> int:\n    a[:] = x\n    return 0")
    assert ast.unparse(tree.body[-1].body[0]) == "a[:] = x"


def test_arrays_stored_into_slices_of_typed_arrays(runner):
    source = textwrap.dedent("""\
        import zel
        import numpy as np
        a = np.zeros(3, np.float64)
        a[:] = np.arange(3.0)
        m = np.zeros((3, 2), np.float64)
        m[:, 1] = np.linspace(0., 1., 3)
        m[0] = [7, 8]
        m[1, :] = -2
        k = np.zeros(4, 'i8')
        x: float = 2.5
        n: int = 3
        k[1:] = 2.75
        k[:2] = n
        a[1:] = x
        print(np.asarray(a).tolist(), np.asarray(m).tolist(), np.asarray(k).tolist())

        def f(w: int):
            b = np.zeros(3, np.float64)
            b[:] = np.arange(3.0)
            q = np.zeros((3, 2), np.float64)
            q[:, 1] = np.linspace(0., 1., 3)
            b[1:] = 7.0
            b[:1] = w
            try:
                q[:, 0] = np.arange(2.0)
            except ValueError as e:
                print(type(e).__name__)
            print(np.asarray(b).tolist(), np.asarray(q).tolist())
        f(4)
    """)
    runner.assert_prints_as_cpython("slices.py", source)


@pytest.mark.parametrize("statement, written", [
    ("k[0] = x", "k[0] = int(x)"),
    ("k[i] = x * 2", "k[i] = int(x * 2)"),
    ("k[i] = w[i]", "k[i] = int(w[i])"),
    ("k4[0] = y", "k4[0] = int(y)"),
    # Integers already: stored as they are.
    ("k[0] = 3", "k[0] = 3"),
    ("k[0] = n", "k[0] = n"),
    ("k[0] = int(x)", "k[0] = int(x)"),
    # Float elements, slices and several targets are not integer element stores.
    ("w[0] = x", "w[0] = x"),
    ("k[1:] = x", "np.asarray(k)[1:] = x"),
    ("k[0] = b = x", "k[0] = b = x"),
    # An update in place stores its sum the same way, when its index reads alike twice.
    ("k[i + 1] += x", "k[i + 1] = int(k[i + 1] + x)"),
    ("k[i] -= 0.5", "k[i] = int(k[i] - 0.5)"),
    ("k[i] += n", "k[i] += n"),
    ("k[g()] += x", "k[g()] += x"),
    ("w[0] += x", "w[0] += x"),
])
def test_stores_into_integer_elements_convert_as_numpy(zel_ns, statement, written):
    source = ("import numpy as np\nk = np.zeros(4, 'i8')\nk4 = np.zeros(4, 'i4')\n"
              "w = np.zeros(4, 'f8')\nx: float = 2.5\nn: int = 1\ni: int = 0\ny = 1.5\n"
              + statement)
    assert last_line(zel_ns, source) == written


def test_floats_stored_into_integer_elements_as_numpy_stores_them(runner):
    # numpy truncates toward zero, and raises for NaN, infinity and values out of range.
    source = textwrap.dedent("""\
        import zel
        import numpy as np
        k = np.zeros(4, 'i8')
        k4 = np.zeros(4, 'i4')
        w = np.zeros(4, 'f8')
        x: float = -2.7
        k[0] = x
        k[1] = x * -2
        k4[2] = w[1] + 3.9
        for i in zel.range(4):
            k4[i] = i * 1.5
            k[i] += i * 0.75
        k[1] -= 0.5
        print(k.tolist(), k4.tolist())

        def fill(a: (0, 'i8'), v: float) -> int:
            for j in range(a.shape[0]):
                a[j] = v * j
            return 0

        fill(k, 0.75)
        print(k.tolist())
        bads = [float('nan'), float('inf'), 1e19]
        for bad in bads:
            try:
                fill(k, bad)
            except (ValueError, OverflowError) as e:
                print(type(e).__name__)
            try:
                x = bad
                k[3] = x
            except (ValueError, OverflowError) as e:
                print(type(e).__name__)
    """)
    runner.assert_prints_as_cpython("integer_elements.py", source)


def test_chained_assignment_gives_every_target_the_value(runner):
    # Each target takes the one value, not what an earlier, narrower target made of it.
    source = textwrap.dedent("""\
        import zel
        import numpy as np
        a = np.zeros(4, 'f4')
        x = 0.1
        a[0] = b = x
        a[1] = m = 7
        i = 2
        lst = [0] * 8
        i = lst[i] = 5
        j: int = 1
        a[j] = j = 3
        print(b, m, type(m).__name__, i, lst, j, np.asarray(a).tolist())

        def g(n):
            v = np.zeros(n, 'f4')
            s: float = 0.0
            for k in range(n):
                v[k] = s = k * 0.1
            return s
        print(g(4))
    """)
    runner.assert_prints_as_cpython("chained.py", source)
