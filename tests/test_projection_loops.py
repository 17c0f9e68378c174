"""Projection loops: the reference walk, the slice marks, and the loop split into ordered groups."""
import ast
import textwrap

import pytest

from pyx_helpers import emit, rewrite

# Typed arrays the projection bodies below use: name, shape.
ARRAYS = [("x", "(m, n)"), ("y", "(m, n)"), ("z", "(m, n)"), ("v", "(n,)"), ("w", "(a, b, n)")]


@pytest.fixture
def project(zel_ns):
    """Rewrites the projection loop that `source` starts with, in a module whose arrays are typed."""
    A = zel_ns.ZELAst

    def run(source):
        module = ast.parse(textwrap.dedent(source))
        root = A.BlockInfo(module)
        for name, shape in ARRAYS:
            pair = ast.parse(f"({shape}, 'f8')", mode="eval").body
            root.set_symbol(name, A.VariableInfo(ast.arg(name), "double", call=pair))
        loop = module.body[0]
        A.reform_Projection(loop, root)
        return loop

    return run


def entries(zel_ns, source, marks=None):
    """The reference entries of the first statement of `source`; `marks` sets slice marks on
    the subscripts, in walk order."""
    statement = ast.parse(textwrap.dedent(source)).body[0]
    subscripts = [n for n in ast.walk(statement) if isinstance(n, ast.Subscript)]
    for node, mark in zip(subscripts, marks or []):
        setattr(node, zel_ns.ZELAst.tidx, mark)
    return zel_ns.ZELAst.make_global_ref_list(statement)


@pytest.mark.parametrize(
    "source, found",
    [
        ("a = b + c", [("a", "w"), ("b", "r"), ("c", "r")]),
        ("a = a * 2", [("a", "rw")]),
        ("a += b", [("a", "rw"), ("b", "r")]),
        ("a: int = b", [("a", "Aw"), ("b", "r")]),
        ("a: int", [("a", "Aw")]),
        ("a = b = c", [("a", "w"), ("b", "w"), ("c", "r")]),
        # The iterator and the else clause of a nested loop are not references.
        ("for i, j in pairs(m):\n    s = i + j\nelse:\n    e = 1", [("i", "Frw"), ("j", "Frw"), ("s", "w")]),
        ("for k in range(m):\n    acc = acc + k", [("k", "Frw"), ("acc", "rw")]),
        ("for k[0] in q:\n    pass", []),
        # Only the positional arguments of a call.
        ("f(a, g(b), key=c)", [("a", "r"), ("b", "r")]),
        ("p.q = r.s", [("p", "w"), ("r", "r")]),
        ("a[b][c] = d", [("a", "w"), ("b", "r"), ("c", "r"), ("d", "r")]),
        ("a.b[c] = 1", [("a", "w"), ("c", "r")]),
        ("x = 1 if c else 'text'", [("x", "w"), ("c", "r")]),
        ("x = [y for y in z]", [("x", "w"), ("y", "r"), ("z", "r")]),
    ],
)
def test_reference_entries(zel_ns, source, found):
    assert entries(zel_ns, source) == [[name, mode, 0, "", None] for name, mode in found]


@pytest.mark.parametrize(
    "source, marks, found",
    [
        ("y[t] = x[t - 1]", ["T", "-"], [("y", "w", "T", "T"), ("t", "r", None), ("x", "r", "-")]),
        # Every subscript counts, in either order: an offset outweighs the current step.
        ("y[t] = x[t] + x[t + 1]", [None, "T", "+"], [("y", "w", None), ("t", "r", None), ("x", "r", "+")]),
        ("y[t] = x[t + 1] + x[t]", [None, "+", "T"], [("y", "w", None), ("t", "r", None), ("x", "r", "+")]),
        ("y[t] = x[t - 1] + x[t + 1] + x[t - 1]", [None, "-", "+", "-"],
         [("y", "w", None), ("t", "r", None), ("x", "r", "-+")]),
        ("y = x[t + 1][0]", ["+", None], [("y", "w", None), ("x", "r", None), ("t", "r", None)]),
        # Any step outweighs the current one and adds to the offsets.
        ("y[t] = x[0] + x[t]", [None, "*", "T"], [("y", "w", None), ("t", "r", None), ("x", "r", "*")]),
        ("y[t] = x[t] + x[0]", [None, "T", "*"], [("y", "w", None), ("t", "r", None), ("x", "r", "*")]),
        ("y[t] = x[n - t] + x[t - 1]", [None, "*", "-"],
         [("y", "w", None), ("t", "r", None), ("x", "r", "-*"), ("n", "r", None)]),
        ("y[t] = x[0] + x[t + 1] + x[t - 1]", [None, "*", "+", "-"],
         [("y", "w", None), ("t", "r", None), ("x", "r", "-+*")]),
        # The subscripts a name is written through give its write mark too; reads do not.
        ("x[t + 1] = x[t]", ["+", "T"], [("x", "rw", "+", "+"), ("t", "r", None)]),
        ("x[t] = x[t - 1]", ["T", "-"], [("x", "rw", "T", "-"), ("t", "r", None)]),
        ("x[n - 1 - t] = x[t]", ["*", "T"],
         [("x", "rw", "*", "*"), ("n", "r", None), ("t", "r", None)]),
        ("x[t] += y[t]", ["T", "T"], [("x", "rw", "T", "T"), ("t", "r", None), ("y", "r", "T")]),
        ("x[t], x[0] = y", ["T", "*"], [("x", "w", "*", "*"), ("t", "r", None), ("y", "r", None)]),
        # Only the subscript of the name itself marks it.
        ("x[t][j] = 1", ["*", "T"], [("x", "w", "T", "T"), ("t", "r", None), ("j", "r", None)]),
        ("y = x[t] + 1", ["T"], [("y", "w", None), ("x", "r", "T"), ("t", "r", None)]),
    ],
)
def test_subscripts_of_a_name_give_its_mark(zel_ns, source, marks, found):
    # ast.walk meets the outer subscript of x[t + 1][0] first. An entry is name, mode, 0, the
    # write mark ("" when written through no marked subscript) and the slice mark.
    assert entries(zel_ns, source, marks) == [
        [entry[0], entry[1], 0, entry[2] if len(entry) == 4 else "", entry[-1]] for entry in found]


def test_walk_returns_only_new_entries(zel_ns):
    A, output = zel_ns.ZELAst, []
    entry = A.make_global_ref_list_expr(ast.Name("a"), output)
    assert entry == ["a", "r", 0, "", None] and output[0] is entry
    assert A.make_global_ref_list_expr(ast.Name("a"), output, "w") is None
    assert output == [["a", "rw", 0, "", None]]


@pytest.mark.parametrize(
    "node, text",
    [
        (ast.parse("f(x)[0] = 1").body[0], "ERROR 3359(<class 'ast.Call'> at line 1"),
        (ast.parse("a = 1\n값 = a").body[1], "Encoding error `값` at line 2"),
        (object(), "ERROR 2920 <class 'object'>"),
        (b"raw", "ERROR 2920 <class 'bytes'>"),
    ],
)
def test_reference_walk_refuses(zel_ns, node, text):
    with pytest.raises(SyntaxError) as error:
        zel_ns.ZELAst.make_global_ref_list(node)
    assert str(error.value) == text


@pytest.mark.parametrize(
    "index, mark",
    [("t", "T"), ("t - 1", "-"), ("t + k", "+"),
     # Any other index may read any step.
     ("t * 2", "*"), ("1 + t", "*"), ("s - 1", "*"), ("s", "*"), ("(t, 1)", "*"), ("()", "*"),
     ("0", "*"), ("n - 1 - t", "*"), ("a[t]", "*"),
     # Written out in full: the last element marks the index.
     ("(r, t)", "T"), ("(r, t + 1)", "+"), ("(a, b, t - 2)", "-"), ("(t + 1, r)", "*")],
)
def test_time_slice_marks(zel_ns, index, mark):
    A = zel_ns.ZELAst
    loop = ast.parse("for t in zel.projection(n): pass").body[0]
    root = A.BlockInfo(ast.Module(body=[], type_ignores=[]))
    branch = ast.If(test=ast.Constant(True), body=[], orelse=[])
    inner = A.BlockInfo(branch, A.BlockInfo(loop, root).set_proj({"var": loop.target}))
    node = ast.parse(index, mode="eval").body
    assert A.check_time_slice(node, inner) == mark
    assert A.check_time_slice(node, root) is None


def test_statements_ordered_and_split_by_direction(project):
    loop = project("""\
        for t in zel.projection(i, n):
            y[t] = x[t - 1]
            x[t] = z[t + 1] + c
            z[t] = v[t] * 2
        """)
    assert ast.unparse(loop) == textwrap.dedent("""\
        if True:
            for t in range(n):
                z[i, t] = v[t] * 2
            for t in range(n - 1, -1, -1):
                x[i, t] = z[i, t + 1] + c
            for t in range(n):
                y[i, t] = x[i, t - 1]""")
    y, x, z = loop.body[2].body[0], loop.body[1].body[0], loop.body[0].body[0]
    # The projection's own index `i` is read by every completed subscript; `t` is no dependency.
    assert (y._assign, y._ref, y._ref1, y._ref2, y._name) == (["y"], ["i"], ["x"], [], None)
    assert (x._assign, x._ref, x._ref1, x._ref2) == (["x"], ["i", "c"], [], ["z"])
    assert (z._assign, z._ref, z._ref1, z._ref2) == (["z"], ["i", "v"], [], [])


@pytest.mark.parametrize(
    "body, assign, ref, ref1, ref2, ref3",
    [
        ("y[t] = x[t - 1]", ["y"], ["i"], ["x"], [], []),
        # Read and written in one statement: written only.
        ("x[t] = x[t - 1] + y[t]", ["x"], ["i", "y"], [], [], []),
        # Every offset at which a name is read counts, whatever the order of the operands.
        ("y[t] = x[t] + x[t - 1]", ["y"], ["i"], ["x"], [], []),
        ("y[t] = x[t] + x[t + 1]", ["y"], ["i"], [], ["x"], []),
        ("y[t] = x[t + 1] + x[t]", ["y"], ["i"], [], ["x"], []),
        # Indices written out in full are marked as completed ones.
        ("y[i, t] = x[i, t + 1]", ["y"], ["i"], [], ["x"], []),
        ("y[i, t] = x[i, t - 1] + z[i, t]", ["y"], ["i", "z"], ["x"], [], []),
        ("y[t] = z[t + 2]", ["y"], ["i"], [], ["z"], []),
        ("for a, b in pairs(m):\n    s = a + b", ["a", "b", "s"], [], [], [], []),
        ("q = f(k=x)", ["q"], [], [], [], []),
        ("q = g(t)", ["q"], [], [], [], []),
        # Names zel does not type are marked by their subscripts too, their indices as written.
        ("u[t] = p[t + 1] + q[t]", ["u"], ["q"], [], ["p"], []),
        ("u[i, t] = p[i, t - 1] + q[t] + s[0]", ["u"], ["i", "q"], ["p"], [], ["s"]),
        ("y[t] = p[t + 1]", ["y"], ["i"], [], ["p"], []),
        # Any other index reads at any step, with whatever offsets the name is read at too.
        ("y[t] = x[n - 1 - t] + z[t]", ["y"], ["i", "n", "z"], [], [], ["x"]),
        ("y[t] = x[2 * t] + x[t - 1]", ["y"], ["i"], ["x"], [], ["x"]),
        ("y[t] = x[0] + x[t]", ["y"], ["i"], [], [], ["x"]),
        ("y[t] = x[i, 0] + x[j, t]", ["y"], ["i", "j"], [], [], ["x"]),
        ("y[t] = x[k]", ["y"], ["i", "k"], [], [], ["x"]),
    ],
)
def test_statement_reference_lists(project, body, assign, ref, ref1, ref2, ref3):
    loop = project("for t in zel.projection(i, n):\n" + textwrap.indent(body, "    "))
    statement = loop.body[0].body[0]
    assert (statement._assign, statement._ref, statement._ref1, statement._ref2,
            statement._ref3) == (assign, ref, ref1, ref2, ref3)


@pytest.mark.parametrize(
    "body, assign, assign1, assign2, assign3",
    [
        ("y[t] = x[t - 1]", ["y"], [], [], []),
        ("y[t - 1] = x[t]", ["y"], ["y"], [], []),
        ("y[t + 1] = 0.5 * y[t] + v[t]", ["y"], [], ["y"], []),
        ("y[n - 1 - t] = v[t]", ["y"], [], [], ["y"]),
        ("y[i, 0] = v[t]", ["y"], [], [], ["y"]),
        ("u[t + 1] = v[t]", ["u"], [], ["u"], []),
        ("if t > 0:\n    y[t - 1] = v[t]", ["y"], ["y"], [], []),
        ("for k in range(n):\n    y[k] += v[t]", ["k", "y"], [], [], ["y"]),
        ("y[t], z[t + 1] = v[t], v[t]", ["y", "z"], [], ["z"], []),
        ("y[t - 1], y[t + 1] = v[t], v[t]", ["y"], ["y"], ["y"], []),
        # Where the statement reads what it writes is not where it writes.
        ("y[t] = y[t - 1] + y[t + 1] + y[0]", ["y"], [], [], []),
        ("s = v[t]", ["s"], [], [], []),
    ],
)
def test_statement_write_lists(project, body, assign, assign1, assign2, assign3):
    loop = project("for t in zel.projection(i, n):\n" + textwrap.indent(body, "    "))
    statement = loop.body[0].body[0]
    assert (statement._assign, statement._assign1, statement._assign2,
            statement._assign3) == (assign, assign1, assign2, assign3)


FORWARD, DOWN = "range(n)", "range(n - 1, -1, -1)"


@pytest.mark.parametrize(
    "body, loops",
    [
        # A read at an index not tied to the loop variable waits for every step of the writer.
        ("y[t] = x[n - 1 - t]\nx[t] = v[t]",
         [(FORWARD, ["x[i, t] = v[t]"]), (FORWARD, ["y[i, t] = x[i, n - 1 - t]"])]),
        ("y[t] = x[0] + x[t]\nx[t] = v[t]",
         [(FORWARD, ["x[i, t] = v[t]"]), (FORWARD, ["y[i, t] = x[i, 0] + x[i, t]"])]),
        ("y[i, t] = x[i, 0]\nx[i, t] = v[t]",
         [(FORWARD, ["x[i, t] = v[t]"]), (FORWARD, ["y[i, t] = x[i, 0]"])]),
        ("y[t] = f(x[0:t])\nx[t] = v[t]",
         [(FORWARD, ["x[i, t] = v[t]"]), (FORWARD, ["y[i, t] = f(x[i, 0:t])"])]),
        ("for k in range(n):\n    y[t] += x[k]\nx[t] = v[t]",
         [(FORWARD, ["x[i, t] = v[t]"]), (FORWARD, ["for k in range(n):\n    y[i, t] += x[i, k]"])]),
        # Also when both read at the same offset, which alone would share a loop.
        ("y[t] = x[t - 1] + x[k]\nx[t] = z[t - 1]",
         [(FORWARD, ["x[i, t] = z[i, t - 1]"]), (FORWARD, ["y[i, t] = x[i, t - 1] + x[i, k]"])]),
        ("y[t] = x[t + 1] + x[0]\nx[t] = z[t + 1]",
         [(DOWN, ["x[i, t] = z[i, t + 1]"]), (DOWN, ["y[i, t] = x[i, t + 1] + x[i, 0]"])]),
        # Only the reader at any step leaves the loop; a reader at the current step stays.
        ("z[t] = x[t]\ny[t] = x[k]\nx[t] = v[t]",
         [(FORWARD, ["x[i, t] = v[t]", "z[i, t] = x[i, t]"]), (FORWARD, ["y[i, t] = x[i, k]"])]),
        # An array no statement writes splits nothing.
        ("y[t] = v[0] + x[t]\nx[t] = v[t]",
         [(FORWARD, ["x[i, t] = v[t]", "y[i, t] = v[0] + x[i, t]"])]),
    ],
)
def test_reads_at_any_step_run_after_the_writers_loop(project, body, loops):
    loop = project("for t in zel.projection(i, n):\n" + textwrap.indent(body, "    "))
    assert [(ast.unparse(part.iter), [ast.unparse(s) for s in part.body]) for part in loop.body] == loops


@pytest.mark.parametrize(
    "body, loops",
    [
        # Written at any step: every reader, at whatever offset, waits for every step.
        ("y[t] = x[t]\nx[n - 1 - t] = v[t]",
         [(FORWARD, ["x[i, n - 1 - t] = v[t]"]), (FORWARD, ["y[i, t] = x[i, t]"])]),
        ("y[t] = x[t - 1] + z[t - 1]\nx[0] = z[t - 1]",
         [(FORWARD, ["x[i, 0] = z[i, t - 1]"]), (FORWARD, ["y[i, t] = x[i, t - 1] + z[i, t - 1]"])]),
        ("y[t] = x[t + 1]\nx[i, k] = z[t + 1]",
         [(DOWN, ["x[i, k] = z[i, t + 1]"]), (DOWN, ["y[i, t] = x[i, t + 1]"])]),
        ("y[t] = x[t]\nfor k in range(n):\n    x[k] += v[t]",
         [(FORWARD, ["for k in range(n):\n    x[i, k] += v[t]"]), (FORWARD, ["y[i, t] = x[i, t]"])]),
        # Written behind the loop variable in a loop counting up: not yet at the step read.
        ("y[t] = x[t] + z[t - 1]\nx[t - 1] = z[t - 1]",
         [(FORWARD, ["x[i, t - 1] = z[i, t - 1]"]), (FORWARD, ["y[i, t] = x[i, t] + z[i, t - 1]"])]),
        ("y[t] = x[t - 1]\nif t > 1:\n    x[t - 2] = z[t - 1]",
         [(FORWARD, ["if t > 1:\n    x[i, t - 2] = z[i, t - 1]"]), (FORWARD, ["y[i, t] = x[i, t - 1]"])]),
        # Ahead of it in a loop counting down.
        ("y[t] = x[t] + z[t + 1]\nx[t + 1] = z[t + 1]",
         [(DOWN, ["x[i, t + 1] = z[i, t + 1]"]), (DOWN, ["y[i, t] = x[i, t] + z[i, t + 1]"])]),
        # Ahead in a loop counting up, behind in one counting down: the step read is written.
        ("y[t] = x[t]\nx[t + 1] = v[t]", [(FORWARD, ["x[i, t + 1] = v[t]", "y[i, t] = x[i, t]"])]),
        ("y[t] = x[t - 1] + z[t - 1]\nx[t + 1] = z[t - 1]",
         [(FORWARD, ["x[i, t + 1] = z[i, t - 1]", "y[i, t] = x[i, t - 1] + z[i, t - 1]"])]),
        ("y[t] = x[t] + z[t + 1]\nx[t - 1] = z[t + 1]",
         [(DOWN, ["x[i, t - 1] = z[i, t + 1]", "y[i, t] = x[i, t] + z[i, t + 1]"])]),
        # What a statement reads of its own array does not move its readers: the recurrence of
        # the bench, x[t + 1] from x[t], and one read behind keep a single loop.
        ("y[t] = x[t]\nx[t + 1] = 0.5 * x[t] + v[t]",
         [(FORWARD, ["x[i, t + 1] = 0.5 * x[i, t] + v[t]", "y[i, t] = x[i, t]"])]),
        ("y[t] = x[t]\nx[t] = x[t - 1] + x[0] + v[t]",
         [(FORWARD, ["x[i, t] = x[i, t - 1] + x[i, 0] + v[t]", "y[i, t] = x[i, t]"])]),
    ],
)
def test_readers_of_writes_off_the_loop_variable_wait_for_them(project, body, loops):
    loop = project("for t in zel.projection(i, n):\n" + textwrap.indent(body, "    "))
    assert [(ast.unparse(part.iter), [ast.unparse(s) for s in part.body]) for part in loop.body] == loops


def test_loops_share_target_and_iterators(project):
    loop = project("""\
        for t in zel.projection(i, n):
            a = x[t + 1]
            b = y[t]
            c = z[t + 1]
        """)
    down, forward, down_again = loop.body
    assert down.iter is down_again.iter and ast.unparse(down.iter) == "range(n - 1, -1, -1)"
    assert ast.unparse(forward.iter) == "range(n)"
    assert down.target is forward.target is down_again.target
    assert all(part.lineno == 1 and part.orelse == [] for part in loop.body)
    assert isinstance(loop, ast.If) and loop.lineno == 1


def test_statements_out_of_order_run_in_dependency_order(project):
    loop = project("""\
        for t in zel.projection(n):
            total = first + second
            second = first * 2
            first = t
        """)
    assert ast.unparse(loop) == textwrap.dedent("""\
        if True:
            for t in range(n):
                first = t
                second = first * 2
                total = first + second""")


@pytest.mark.parametrize(
    "source, result",
    [
        ("for t in zel.projection(n):\n    v[t] = 0", "v[t,] = 0"),
        ("for t in zel.projection(a, b, n):\n    w[t] = w", "w[a, b, t] = w[a, b, t]"),
        ("for t in zel.projection(i, n):\n    x[j, t] = v", "x[j, t] = v[t]"),
        # A callee bound by a from-import is renamed itself.
        ("for t in projection(i, n):\n    x[t] = 1", "x[i, t] = 1"),
    ],
)
def test_body_completed_with_projection_indices(project, source, result):
    loop = project(source)
    assert ast.unparse(loop.body[0].iter) == "range(n)"
    assert ast.unparse(loop.body[0].body[0]) == result


def test_single_argument_keeps_its_list(zel_ns):
    module = ast.parse("for t in zel.projection(n):\n    v[t] = 0")
    args = module.body[0].iter.args
    zel_ns.ZELAst.reform_Projection(module.body[0], zel_ns.ZELAst.BlockInfo(module))
    assert module.body[0].body[0].iter.args is args


def test_else_clause_runs_after_the_loops(project):
    loop = project("for t in zel.projection(n):\n    a = t\nelse:\n    done = 1")
    assert ast.unparse(loop) == "if True:\n    for t in range(n):\n        a = t\n    done = 1"


def test_indices_written_in_full_order_as_completed_ones(project):
    loop = project("""\
        for t in zel.projection(i, n):
            x[i, t] = v[t]
            y[i, t] = x[i, t + 1]
        """)
    assert ast.unparse(loop) == textwrap.dedent("""\
        if True:
            for t in range(n):
                x[i, t] = v[t]
            for t in range(n - 1, -1, -1):
                y[i, t] = x[i, t + 1]""")


def test_else_clause_after_loops_that_may_break(project):
    loop = project("""\
        for t in zel.projection(n):
            v[t] = t
            if t == 2:
                break
            y[t] = x[t + 1]
            for k in range(3):
                break
        else:
            done = 1
        """)
    assert ast.unparse(loop) == textwrap.dedent("""\
        if True:
            _zel_loops_ended_ = 0
            for t in range(n):
                v[t,] = t
                if t == 2:
                    break
            else:
                _zel_loops_ended_ += 1
            for t in range(n - 1, -1, -1):
                y[t] = x[t + 1]
            for t in range(n):
                for k in range(3):
                    break
            if _zel_loops_ended_ == 1:
                done = 1""")


@pytest.mark.parametrize(
    "body, counted",
    [
        ("if t == 2:\n    break", True),
        ("with c:\n    break", True),
        # A nested loop's else clause breaks the projection's loop, its body only itself.
        ("for k in range(3):\n    pass\nelse:\n    break", True),
        ("for k in range(3):\n    break", False),
        ("while c:\n    break", False),
        ("def g():\n    for k in c:\n        break", False),
    ],
)
def test_else_clause_waits_only_for_loops_that_break(project, body, counted):
    loop = project("for t in zel.projection(n):\n    v[t] = t\n" + textwrap.indent(body, "    ") +
                   "\nelse:\n    done = 1")
    assert ("_zel_loops_ended_" in ast.unparse(loop)) == counted
    assert ast.unparse(loop.body[-1]).endswith("done = 1")


def test_tuple_target_is_refused_untouched(zel_ns, capsys):
    module = ast.parse("\n\nfor (t, s) in zel.projection(i, n):\n    x[t] = 1")
    before = ast.dump(module)
    with pytest.raises(SystemExit) as stop:
        zel_ns.ZELAst.reform_Projection(module.body[0], zel_ns.ZELAst.BlockInfo(module))
    assert stop.value.code == 10
    assert capsys.readouterr().out == (
        "ZEL.projection의 색인 변수는 단일 변수를 사용해야 합니다. `(t, s)` line 3\n")
    assert ast.dump(module) == before


def test_empty_body_has_no_group(zel_ns, capsys):
    module = ast.parse("for t in zel.projection(n):\n    pass")
    module.body[0].body = []
    with pytest.raises(SystemExit) as stop:
        zel_ns.ZELAst.reform_Projection(module.body[0], zel_ns.ZELAst.BlockInfo(module))
    assert stop.value.code == 10
    assert capsys.readouterr().out == (
        "fatal.356 NO DATA\n[Error.2670] No statement found in projection block.\n")


def test_entry_without_read_or_write_is_a_fault(project, zel_ns, capsys, monkeypatch):
    A = zel_ns.ZELAst
    monkeypatch.setattr(A, "make_global_ref_list", classmethod(lambda cls, n: [["q", "Q", 0, "", None]]))
    with pytest.raises(SystemExit) as stop:
        project("\nfor t in zel.projection(n):\n    q = 1")
    assert stop.value.code == 10
    assert capsys.readouterr().out == "[Fatal.2600] `q`, line 2\n"


@pytest.mark.parametrize(
    "body, error, lines",
    [
        ("y[t] = x[t - 1] + z[t + 1]", ValueError, ["ValueError.3788: `None`."]),
        ("y[t] = x[t + 1] + x[t] + x[t - 1]", ValueError, ["ValueError.3788: `None`."]),
        # Its own array behind, another ahead.
        ("z[t] = t * 1.0\ny[t] = y[t - 1] + z[t + 1]", ValueError, ["ValueError.3788: `None`."]),
        # Then the names as a set, in the set's own order.
        ("y[t] = x[t]\nx[t] = y[t]", ReferenceError,
         ["Circular reference error: ['x', 'y']", {"x", "y"}]),
        ("y[t] = x[t]\n변수 = 1", SyntaxError, ["Encoding error `변수` at line 3"]),
    ],
    ids=["both offsets", "one name at both offsets", "own behind, another ahead", "cycle",
         "non-ascii name"],
)
def test_ordering_faults_are_raised(project, body, error, lines):
    source = "for t in zel.projection(i, n):\n" + textwrap.indent(body, "    ")
    with pytest.raises(error) as raised:
        project(source)
    shown = str(raised.value).split("\n")
    assert shown[0] == lines[0] and len(shown) == len(lines)
    if len(lines) > 1:
        assert shown[1].startswith("{") and eval(shown[1]) == lines[1]


# A function whose arrays are typed, and a projection loop along the rows of x and y.
KERNEL = """\
import zel

def kernel(x: ((0, 0), 'f8'), y: ((0, 0), 'f8'), v: (0, 'f8'), rows: int, n: int):
    r: int
    t: int
    j = 1
    for r in range(rows):
        for t in zel.projection({args}):
            {body}
"""
NO_CHECKS = "with _zel_cython_.boundscheck(False), _zel_cython_.initializedcheck(False):"


@pytest.mark.parametrize(
    "args, body, test",
    [
        # The fixed row, and the step at two offsets of one array.
        ("r, n", "x[t + 1] = 0.5 * x[t] + y[t]",
         "if n > 0 and (r < 0 or r >= x.shape[0] or 0 < 0 or (n > x.shape[1] - 1) or (r < 0) "
         "or (r >= y.shape[0]) or (0 < 0) or (n > y.shape[1])):"),
        ("0, n", "x[t + 2] = y[t]",
         "if n > 0 and (0 < 0 or 0 >= x.shape[0] or 0 < -2 or (n > x.shape[1] - 2) or (0 < 0) "
         "or (0 >= y.shape[0]) or (0 < 0) or (n > y.shape[1])):"),
        ("n", "v[t] = 1.0", "if n > 0 and (0 < 0 or n > v.shape[0]):"),
        # A checked copy runs where the test fails: an access that some step skips is tested.
        ("r, n", "if t > 0:\n                x[t] = y[t]",
         "if n > 0 and (r < 0 or r >= x.shape[0] or 0 < 0 or (n > x.shape[1]) or (r < 0) "
         "or (r >= y.shape[0]) or (0 < 0) or (n > y.shape[1])):"),
        # A step behind the first one: the test would never hold.
        ("r, n", "if t > 0:\n                x[t] = x[t - 1]", None),
        # Counting down.
        ("r, n", "y[t] = x[t + 1]", None),
        # A row the body assigns, or one that is no C integer.
        ("r, n", "x[t] = 1.0\n            r = 0", None),
        ("j, n", "x[t] = 1.0", None),
        ("r + 1, n", "x[t] = 1.0", None),
        # A call may run code of the script.
        ("r, n", "x[t] = abs(y[t])", None),
        # The step at the last position only.
        ("n", "x[t, r] = 1.0", None),
    ],
)
def test_projection_loop_runs_unchecked_where_its_range_test_holds(zel_ns, args, body, test):
    tree = rewrite(zel_ns, KERNEL.format(args=args, body=body))
    lines = emit(zel_ns, tree).splitlines()
    assert getattr(tree, "_zel_cython_", False) is (test is not None)
    if test is None:
        assert NO_CHECKS not in [line.strip() for line in lines]
        return
    start = lines.index("            " + test)
    loop = lines[start + 1]
    assert loop == "                for t in range(n):"
    checked = lines[start + 2:lines.index("            else:", start)]
    assert lines[lines.index("            else:", start) + 1:][:2 + len(checked)] == [
        "                " + NO_CHECKS, "    " + loop] + ["    " + line for line in checked]
