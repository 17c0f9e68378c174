"""Loops over zel.range: OpenMP loops over prange, their index declarations and their faults;
and the index of ordinary loops inside compiled code."""

import pytest

from pyx_helpers import emit, pyx_lines, rewrite

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


TWO = "a = numpy.zeros(n, 'f8')\nb = numpy.zeros(n, 'f8')"


@pytest.mark.parametrize("header, body, check", [
    # Every access at the index plus a constant: one test before the loop stands for all.
    ("a = numpy.zeros(n, 'f8')\nb = numpy.zeros(n, 'f8')", "a[i + 1] = b[i] * b[i - 2]",
     "if n > 0 and (0 < -1 or n > a.shape[0] - 1 or 0 < 2 or (n > b.shape[0])):"),
    ("a = numpy.zeros(n, 'f8')", "a[j] = 1.0", None),
    ("a = numpy.zeros((n, 2), 'f8')", "a[i, 0] = 1.0", None),
    # One test raises for every access, so its message names axis 0: one dimension only.
    ("a = numpy.zeros((2, n), 'f8')", "a[0, i] = 1.0", None),
    ("a = numpy.zeros(n, 'f8')", "s += 1.0", None),
    # A condition's own test runs on every iteration.
    ("a = numpy.zeros(n, 'f8')", "if a[i] > 0.0:\n        x = 1.0",
     "if n > 0 and (0 < 0 or n > a.shape[0]):"),
    # An access that an iteration may skip keeps its check: its index may be out of range
    # exactly where the loop skips it.
    (TWO, "if i > 0:\n        b[i] = a[i - 1]", None),
    (TWO, "b[i] = a[i + 1] - a[i] if i + 1 < n else 0.0", None),
    (TWO, "b[i] = i > 0 and a[i - 1] > 0.0", None),
    (TWO, "b[i] = i + 1 < n or a[i + 1] > 0.0", None),
    (TWO, "b[i] = 0.0 < a[i] < a[i + 1]", None),
    (TWO, "if i == 0:\n        continue\n    b[i] = a[i - 1]", None),
    (TWO, "for k in range(m):\n        b[i] = a[i]", None),
    (TWO, "while b[i] < 1.0:\n        b[i] = a[i]", None),
    # An offset too large to add to a bound safely is no small constant.
    ("a = numpy.zeros(n, 'f8')", "a[i + 1180591620717411303424] = 1.0", None),
    ("a = numpy.zeros(n, 'f8')", "a[i] = 1.0\n    i = 2", None),
])
def test_bounds_checks_of_a_parallel_loop(zel_ns, header, body, check):
    source = "import zel, numpy\n" + header + "\nfor i in zel.range(n):\n    " + body + "\n"
    tree = rewrite(zel_ns, source)
    lines = emit(zel_ns, tree).splitlines()
    directives = "with _zel_cython_.boundscheck(False), _zel_cython_.initializedcheck(False):"
    # The module's prologue cimports the directives' module when a loop uses them.
    assert getattr(tree, "_zel_cython_", False) is (check is not None)
    if check is None:
        assert directives not in lines
        return
    start = lines.index(directives)
    assert lines[start + 1] == "    " + check
    assert lines[start + 2] == "        raise IndexError('Out of bounds on buffer access (axis 0)')"
    assert lines[start + 3].startswith("    for i in _cp_prange_(n,")


def test_accesses_an_iteration_may_skip_run_as_in_python(runner):
    runner.assert_prints_as_cpython("guarded.py", """
        import zel
        import numpy as np

        def diff(a: (0, 'f8'), d: (0, 'f8'), n: int):
            for i in zel.range(n):
                d[i] = a[i + 1] - a[i] if i + 1 < n else 0.0
            return 0

        def shifted(a: (0, 'f8'), d: (0, 'f8'), n: int):
            for i in zel.range(n):
                if i == 0:
                    continue
                d[i] = a[i - 1]
            return 0

        n: int = 6
        a = np.zeros(n, 'f8')
        b = np.zeros(n, 'f8')
        c = np.zeros(n, 'f8')
        for k in range(n):
            a[k] = k * 1.5
        for j in zel.range(n):
            if j > 0:
                b[j] = a[j - 1]
        for j in zel.range(n):
            c[j] = j + 1 < n and a[j + 1] > 4.0
        print(np.asarray(b).tolist(), np.asarray(c).tolist())
        diff(a, b, n)
        shifted(a, c, n)
        print(np.asarray(b).tolist(), np.asarray(c).tolist())
    """)


def test_range_test_does_not_wrap_around(runner):
    # The last index plus the offset is past the largest C integer.
    runner.assert_prints_as_cpython("huge.py", """
        import zel
        import numpy as np
        n: int = 9223372036854775807
        a = np.zeros(10, 'f8')
        try:
            for i in zel.range(n):
                a[i + 2] = 1.0
        except IndexError as e:
            print(type(e).__name__)
    """)


@pytest.mark.parametrize("before, declared_first", [
    # Bound only as a loop index: the declaration goes before its first use.
    ("for i in range(n):\n    a[i] = i\n", True),
    ("if n > 2:\n    for i in range(n):\n        a[i] = i\n", True),
    # Bound as something else too: the declaration stays at the loop, where C refuses it.
    ("for i in 'xy':\n    print(i)\n", False),
])
def test_index_declared_before_its_first_use(zel_ns, before, declared_first):
    lines = pyx_lines(zel_ns, "import zel, numpy\na = numpy.zeros(n, 'f8')\n" + before +
                      "s: float = 0.0\nfor i in zel.range(n):\n    s += a[i]\n")
    declaration = lines.index("cdef long long i")
    first_use = next(k for k, line in enumerate(lines) if " i " in line or "(i)" in line)
    assert (declaration < first_use) is declared_first
    assert lines.count("cdef long long i") == 1


def test_index_of_a_function_is_declared_there(zel_ns):
    # A module-level name is another variable in the function.
    lines = pyx_lines(zel_ns, """
        import zel
        for i in zel.range(n):
            pass
        def f(n: int):
            for i in zel.range(n):
                pass
            for i in zel.range(n):
                pass
    """)
    assert lines.count("cdef long long i") == 1
    assert lines.count("    cdef long long i") == 1


def test_index_of_a_plain_loop_then_a_parallel_loop(runner):
    runner.assert_prints_as_cpython("same_index.py", """
        import zel
        import numpy as np
        n: int = 5
        a = np.zeros(n, 'f8')
        for i in range(n):
            a[i] = i
        s: float = 0.0
        for i in zel.range(n):
            s += a[i]
        print(s, i)

        def f(a: (0, 'f8'), n: int):
            for i in range(n):
                a[i] = 2 * i
            t: float = 0.0
            for i in zel.range(n):
                t += a[i]
            return float(t), i
        print(f(a, n), i)
    """)


SHARED_INDEX_SCRIPTS = {
    "plain_loop_first": """
        import zel
        n: int = 4
        s = 0
        for i in range(n):
            s += i
        t: int = 0
        for i in zel.range(n):
            t += i
        print(s, t)
    """,
    "typed_function_with_parameter_i": """
        import zel

        def twice(i: int) -> int:
            return 2 * i

        n: int = 4
        for i in range(n):
            print(twice(i))
        t: int = 0
        for i in zel.range(n):
            t += twice(i)
        print(t)
    """,
    "index_used_after_the_loops": """
        import zel

        def label(k: int) -> str:
            i = f"<{k}>"
            return i

        n: int = 6
        total: int = 0
        for i in range(n):
            total += i
        print(label(i), i)
        t: float = 0.0
        for i in zel.range(n):
            t += i * 0.5
        print(total, t, i, [i * 2 for k in range(2)])
    """,
    "under_the_main_guard": """
        import zel
        import numpy as np

        def scale(i: int, f: float) -> float:
            return i * f

        if __name__ == "__main__":
            n: int = 5
            a: (0, 'f8') = np.zeros(n, 'f8')
            for i in range(n):
                a[i] = scale(i, 0.5)
            s: float = 0.0
            for i in zel.range(n):
                s += a[i]
            print(a.tolist(), s, i)
    """,
}


@pytest.mark.parametrize("name", sorted(SHARED_INDEX_SCRIPTS))
def test_index_shared_by_plain_and_parallel_loops(runner, name):
    # The parameters and locals of a function are its own: only the module's bindings of the
    # index decide where its declaration goes, before the earlier plain loop.
    runner.assert_prints_as_cpython(name + ".py", SHARED_INDEX_SCRIPTS[name])


@pytest.mark.parametrize("body, update", [
    # Assigned first: the name is private to the iteration.
    ("s = a[i]\n    s += 1.0", "s = s + 1.0"),
    ("s = a[i]\n    if s > 1.0:\n        s *= 2.0", "s = s * 2.0"),
    ("s, t = a[i], 1.0\n    s -= t", "s = s - t"),
    # Assigned in an inner loop, updated in a loop inside that: a dot product per element.
    ("for j in range(3):\n        s = 0.0\n        for k in range(3):\n            s += a[k]\n"
     "        a[j] = s", "s = s + a[k]"),
    ("try:\n        s = a[i]\n    except ValueError:\n        s = 0.0\n    else:\n        s += 1.0",
     "s = s + 1.0"),
    # Never assigned otherwise, or only on some iterations: a reduction, as written.
    ("s += a[i]", "s += a[i]"),
    ("if a[i] > 0.0:\n        s = a[i]\n    s += 1.0", "s += 1.0"),
    ("for j in range(3):\n        s = a[j]\n    s += 1.0", "s += 1.0"),
])
def test_in_place_update_of_a_name_private_to_the_iteration(zel_ns, body, update):
    lines = pyx_lines(zel_ns, "import zel, numpy\na = numpy.zeros(n, 'f8')\ns: float = 0.0\n"
                      "for i in zel.range(n):\n    " + body + "\n")
    assert update in [line.strip() for line in lines]


def test_private_updates_and_reductions_run_as_in_python(runner):
    runner.assert_prints_as_cpython("private.py", """
        import zel
        import numpy as np
        n: int = 5
        a = np.zeros(n, 'f8')
        b = np.zeros(n, 'f8')
        for k in range(n):
            a[k] = k * 0.5
        total: float = 0.0
        for i in zel.range(n):
            s: float = a[i] + i
            s += 1.0
            if s > 3.0:
                s *= 2.0
            b[i] = s
            total += s
        print(np.asarray(b).tolist(), float(total))
        m: ((0, 0), 'f8') = np.zeros((n, n), 'f8')
        for i in zel.range(n):
            for j in range(n):
                dot: float = 0.0
                for k in range(n):
                    dot += a[i] * a[k] * (j + 1)
                m[i, j] = dot
        print(np.asarray(m).tolist())
    """)


def test_literal_bounds_past_a_c_int(runner):
    runner.assert_prints_as_cpython("wide.py", """
        import zel

        def count(n: int):
            hits: int = 0
            for i in zel.range(4000000000, 4000000000 + n):
                hits += i % 3
            return hits

        s: int = 0
        for i in zel.range(2999999990, 3000000000):
            s += i
        print(s, count(7))
        t: int = 0
        for i in zel.range(-3000000000, -2999999995):
            t += i
        print(t)
    """)


SOME_ITERATIONS = ("` is assigned on only some iterations of the parallel loop, so its value "
                   "after the loop is not known; assign it on every iteration, or use range. line ")


@pytest.mark.parametrize("source, name, line", [
    ("last = -1.0\nidx = -1\nfor i in zel.range(n):\n    if a[i] > 0.0:\n        last = a[i]\n"
     "        idx = i\nprint(last, idx)\n", "last", 7),
    # After an early exit from the iteration, and read only by a later statement.
    ("for i in zel.range(n):\n    if a[i] < 0.0:\n        continue\n    best = a[i]\nprint(best)\n",
     "best", 6),
    ("def find(a: (0, 'f8'), n: int):\n    found: int = -1\n    for i in zel.range(n):\n"
     "        if a[i] > 0.0:\n            found = i\n    return found\n", "found", 7),
    ("for i in zel.range(n):\n    for k in range(i):\n        t = a[k]\n\ndef f():\n    return t\n",
     "t", 5),
    # Read by a function defined before the loop, which may run after it.
    ("def f():\n    return t\n\nfor i in zel.range(n):\n    if a[i] > 0.0:\n        t = a[i]\n",
     "t", 8),
    # Read before the loop, inside a loop that runs it again.
    ("t = 0.0\nfor r in range(2):\n    print(t)\n    for i in zel.range(n):\n        if a[i] > 0.0:\n"
     "            t = a[i]\n", "t", 8),
])
def test_names_assigned_on_some_iterations_are_refused(zel_ns, capsys, source, name, line):
    with pytest.raises(SystemExit) as stop:
        rewrite(zel_ns, "import zel, numpy\na = numpy.zeros(n, 'f8')\n" + source)
    assert stop.value.code == 10
    assert capsys.readouterr().out == "ZEL.range: `" + name + SOME_ITERATIONS + str(line) + "\n"


@pytest.mark.parametrize("body", [
    # Assigned on every iteration, conditionally too.
    "t = a[i] * 2.0\n    if a[i] > 1.0:\n        t = 0.0",
    # Private to the iteration: nothing outside the loop uses it.
    "if a[i] > 1.0:\n        u: float = a[i]\n        a[i] = u",
    # A reduction.
    "if a[i] > 0.0:\n        s += a[i]",
])
def test_names_of_every_iteration_or_private_ones_are_kept(zel_ns, body):
    lines = pyx_lines(zel_ns, "import zel, numpy\na = numpy.zeros(n, 'f8')\ns: float = 0.0\n"
                      "t: float = 0.0\nfor i in zel.range(n):\n    " + body + "\nprint(s, t)\n")
    assert any("_cp_prange_" in line for line in lines)


def test_a_name_read_only_before_the_loop_is_kept(zel_ns):
    # `k` indexes a loop before the parallel one and an inner loop of its body.
    lines = pyx_lines(zel_ns, "import zel, numpy\na = numpy.zeros(n, 'f8')\nfor k in range(n):\n"
                      "    a[k] = k\nfor i in zel.range(n):\n    for j in range(3):\n        for k in range(j):\n"
                      "            a[i] += k\n"
                      "print(a)\n")
    assert any("_cp_prange_" in line for line in lines)


def test_last_iteration_values_run_as_in_python(runner):
    runner.assert_prints_as_cpython("last_value.py", """
        import zel
        import numpy as np

        def scaled(a: (0, 'f8'), n: int):
            t: float = 0.0
            for i in zel.range(n):
                t = a[i] * 2.0
                if t > 4.0:
                    t = 4.0
            return float(t)

        n: int = 500
        a = np.zeros(n, 'f8')
        for k in range(n):
            a[k] = k % 7 * 0.5
        last: float = -1.0
        for i in zel.range(n):
            last = a[i] + 1.0
        print(last, scaled(a, n))
    """)


# Fields that hold texts or None among their nodes: the keys of a dict display that unpacks
# another, the names of a `global` statement.
@pytest.mark.parametrize("body", [
    "e = {**d, 'i': i}",
    "global q\n    q = i",
])
def test_body_with_fields_that_are_not_nodes(zel_ns, body):
    lines = pyx_lines(zel_ns, "import zel\nd = {}\nfor i in zel.range(n):\n    " + body + "\n")
    assert f"for i in _cp_prange_(n, {PRANGE_KEYWORDS}):" in lines


def test_some_iterations_seen_past_a_dict_that_unpacks_another(zel_ns, capsys):
    with pytest.raises(SystemExit) as stop:
        rewrite(zel_ns, "import zel\nd = {}\nfor i in zel.range(n):\n    if i > 2:\n"
                        "        e = {**d}\nprint(e)\n")
    assert stop.value.code == 10
    assert capsys.readouterr().out == "ZEL.range: `e" + SOME_ITERATIONS + "5\n"
