"""Loops over zel.range: OpenMP loops over prange, their index declarations and their faults;
and the index of ordinary loops inside compiled code."""
import textwrap

import pytest

from pyx_helpers import pyx_lines, rewrite

PRANGE_KEYWORDS = "nogil=True, num_threads=openmp.omp_get_max_threads(), schedule='guided'"


def test_module_level_loop(zel_ns):
    lines = pyx_lines(zel_ns, """
        import zel
        for i in zel.range(n):
            x = i
    """)
    assert lines[1:] == [
        "cdef long long i",
        f"for i in _cp_prange_(n, {PRANGE_KEYWORDS}):",
        "    x = i",
    ]
    assert zel_ns.ZELAst.openmp is True


def test_body_is_a_parallel_block(zel_ns):
    seen = []
    walk = zel_ns.ZELAst.reform_Stmt

    def probe(cls, node, ci):
        if getattr(node, "id", None) == "probe":
            seen.append(ci)
        return walk(node, ci)

    zel_ns.ZELAst.reform_Stmt = classmethod(probe)
    rewrite(zel_ns, "import zel\nfor i in zel.range(3):\n    if c:\n        probe\n")
    assert seen[0].get_attr(zel_ns.ZELAst.midx) is True


def test_one_declaration_for_two_loops_in_a_function(zel_ns):
    lines = pyx_lines(zel_ns, """
        import zel as z
        def f(n):
            for i in z.range(n):
                pass
            for i in z.range(n):
                pass
    """)
    assert lines.count("    cdef long long i") == 1
    assert sum("_cp_prange_(n," in line for line in lines) == 2


@pytest.mark.parametrize("declaration, bound", [
    ("a = numpy.zeros(10, 'f8')", "a.shape[0]"),
    ("a = [0.0] * 10", "len(a)"),
])
def test_len_bound(zel_ns, declaration, bound):
    lines = pyx_lines(zel_ns, f"""
        import zel, numpy
        {declaration}
        for i in zel.range(len(a)):
            pass
    """)
    assert f"for i in _cp_prange_({bound}, {PRANGE_KEYWORDS}):" in [line.strip() for line in lines]


@pytest.mark.parametrize("keyword, parallel", [("True", False), ("False", True), ("1", True)])
def test_cuda_keyword(zel_ns, keyword, parallel):
    lines = pyx_lines(zel_ns, f"""
        import zel
        for i in zel.range(n, cuda={keyword}):
            pass
    """)
    assert "cdef long long i" in lines
    # No GPU code path: a cuda loop runs in order, over an iterator the built module can call.
    expected = f"for i in _cp_prange_(n, {PRANGE_KEYWORDS}):" if parallel else "for i in range(n):"
    assert expected in lines
    assert zel_ns.ZELAst.openmp is parallel


NESTING = "ZEL.range: 병렬 블럭을 중첩해서 사용할 수 없습니다. line "


@pytest.mark.parametrize("source, line", [
    ("for i, j in zel.range(n):\n    pass\n",
     "ZEL.range: `(i, j)` 병렬 변수는 단일 변수만 허용합니다. line 2"),
    ("for a.b in zel.range(n):\n    pass\n",
     "ZEL.range: `a.b` 병렬 변수는 단일 변수만 허용합니다. line 2"),
    ("for i in zel.range(n):\n    for j in zel.range(n):\n        pass\n", NESTING + "3"),
    ("for i in zel.range(n):\n    if c:\n        for k in range(3):\n"
     "            for j in zel.range(n):\n                pass\n", NESTING + "5"),
    ("def f(n: int) -> int:\n    while n:\n        for j in zel.range(n):\n            pass\n"
     "    return 0\n", NESTING + "4"),
])
def test_script_faults(zel_ns, capsys, source, line):
    with pytest.raises(SystemExit) as stop:
        rewrite(zel_ns, "import zel\n" + source)
    assert stop.value.code == 10
    assert capsys.readouterr().out == line + "\n"


def test_untyped_function_inside_a_parallel_body_may_hold_one(zel_ns):
    lines = pyx_lines(zel_ns, """
        import zel
        for i in zel.range(n):
            def g(m):
                for j in zel.range(m):
                    pass
    """)
    assert sum("_cp_prange_(" in line for line in lines) == 2


def test_ordinary_loops_stay(zel_ns):
    lines = pyx_lines(zel_ns, """
        for x in items:
            y = x
        else:
            z = 1
        for i in range(n):
            pass
    """)
    assert lines == ["for x in items:", "    y = x", "else:", "    z = 1", "for i in range(n):",
                     "    pass"]


@pytest.mark.parametrize("body, declared", [
    ("for i in range(n):\n        x: float = i * 1e-7", True),
    ("for i in range(n):\n        pass\n    for i in range(2):\n        pass", True),
    ("i = 3\n    for i in range(n):\n        pass", False),
    ("for i in items:\n        pass\n    for i in range(n):\n        pass", False),
])
def test_range_index_in_a_fully_typed_function(zel_ns, body, declared):
    source = f"def f(n: int) -> int:\n    {body}\n    return 0\n"
    lines = pyx_lines(zel_ns, source)
    assert ("    cdef long long i" in lines) is declared


def test_projection_index_in_a_fully_typed_function(zel_ns):
    lines = pyx_lines(zel_ns, """
        import zel
        def f(a: (0, 'f8'), n: int) -> int:
            for t in zel.projection(n):
                a[t] = 1.0
            return 0
    """)
    assert "    cdef long long t" in lines


def test_range_index_in_an_untyped_function_stays_untyped(zel_ns):
    lines = pyx_lines(zel_ns, "def f(n):\n    for i in range(n):\n        pass\n")
    assert not any("cdef" in line for line in lines)


def test_parallel_loops_run(runner):
    done = runner.run_script("par.py", """
        import zel
        import numpy as np

        n: int = 100000
        a = np.zeros(n, 'f8')
        for i in zel.range(n):
            x: float = i * 1e-3
            a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0

        def total(a: (n, 'f8'), n: int):
            s: float = 0.0
            for i in zel.range(n):
                s += a[i] * a[i]
            return s

        def shift(a: (n, 'f8'), n: int) -> int:
            for k in range(n):
                y: float = k * 1e-3
                a[k] = a[k] - y
            return 0

        s: float = 0.0
        for j in zel.range(len(a)):
            s += a[j] * a[j]
        x_ = np.arange(n) * 1e-3
        ref = ((x_ * 0.3 + 0.2) * x_ + 0.1) * x_ + 1.0
        print(np.allclose(np.asarray(a), ref), abs(total(a, n) - (ref * ref).sum()) < 1e-6 * s,
              abs(s - (ref * ref).sum()) < 1e-6 * s)
        shift(a, n)
        print(np.allclose(np.asarray(a), ref - x_))
    """)
    assert (done.returncode, done.stdout, done.stderr) == (
        0, "# COMPILE..\n# RUN\nTrue True True\nTrue\n", "")


def test_untyped_object_in_a_parallel_body_is_reported_on_its_line(runner):
    done = runner.run_script("bad.py", """
        import zel
        items = [1, 2, 3]
        n: int = 3
        for i in zel.range(n):
            items[i] = 0
    """)
    assert done.returncode == 1
    assert "**     items[i] = 0#lInE6EnIl 6\n" in done.stdout
    assert "not allowed without gil" in done.stdout


def test_out_of_range_index_in_a_parallel_loop_is_caught(runner):
    done = runner.run_script("oob.py", """
        import zel
        import numpy as np
        n: int = 10
        a = np.zeros(n, 'f8')
        b = np.zeros(n, 'f8')
        try:
            for i in zel.range(n + 5):
                a[i] = 7.0
        except IndexError as e:
            print("caught:", e, np.asarray(b).sum())
    """)
    assert (done.returncode, done.stdout) == (
        0, "# COMPILE..\n# RUN\ncaught: Out of bounds on buffer access (axis 0) 0.0\n")


@pytest.mark.parametrize("header, body, check", [
    # Every access at the index plus a constant: one test before the loop stands for all.
    ("a = numpy.zeros(n, 'f8')\nb = numpy.zeros(n, 'f8')", "a[i + 1] = b[i] * b[i - 2]",
     "if n > 0 and (0 + 1 < 0 or n >= a.shape[0] or 0 - 2 < 0 or (n - 1 >= b.shape[0])):"),
    ("a = numpy.zeros(n, 'f8')", "a[j] = 1.0", None),
    ("a = numpy.zeros((n, 2), 'f8')", "a[i, 0] = 1.0", None),
    ("a = numpy.zeros(n, 'f8')", "s += 1.0", None),
])
def test_bounds_checks_of_a_parallel_loop(zel_ns, header, body, check):
    source = "import zel, numpy\n" + header + "\nfor i in zel.range(n):\n    " + body + "\n"
    lines = pyx_lines(zel_ns, source)
    directives = "with _zel_cython_.boundscheck(False), _zel_cython_.initializedcheck(False):"
    if check is None:
        assert directives not in lines and "cimport cython as _zel_cython_" not in lines
        return
    assert lines[0] == "cimport cython as _zel_cython_"
    start = lines.index(directives)
    assert lines[start + 1] == "    " + check
    assert lines[start + 2] == "        raise IndexError('Out of bounds on buffer access (axis 0)')"
    assert lines[start + 3].startswith("    for i in _cp_prange_(n,")
