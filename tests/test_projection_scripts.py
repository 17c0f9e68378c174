"""Projection loops in real scripts: the faults that end the compile, with their lines and statuses."""
import textwrap

import pytest

from messages import FATAL

# SystemExit(-1) as the operating system reports it.
INTERNAL_ERROR = 255

HEAD = """\
import zel
import numpy as np

n: int = 4
x = np.zeros((n,), 'f8')
y = np.zeros((n,), 'f8')
z = np.zeros((n,), 'f8')
"""


@pytest.mark.parametrize(
    "loop, line, status",
    [
        ("for t, s in zel.projection(n):\n    x[t] = 1.0",
         "ZEL.projection의 색인 변수는 단일 변수를 사용해야 합니다. `(t, s)` line 9", 10),
        ("for t in zel.projection(n):\n    y[t] = x[t - 1] + z[t + 1]",
         FATAL + "ValueError: ValueError.3788: `None`.", INTERNAL_ERROR),
        ("for t in zel.projection(n):\n    x[t] = t * 1.0\n"
         "    y[t] = (y[t - 1] if t > 0 else 0.0) + (x[t + 1] if t + 1 < n else 0.0)",
         FATAL + "ValueError: ValueError.3788: `None`.", INTERNAL_ERROR),
        ("for t in zel.projection(n):\n    y[t] = x[t]\n    값 = y[t]",
         FATAL + "SyntaxError: Encoding error `값` at line 11", INTERNAL_ERROR),
        # An array zel does not type reads at offsets as a typed one does.
        ("u = [0.0] * n\nfor t in zel.projection(n):\n    y[t] = u[t - 1] + u[t + 1]",
         FATAL + "ValueError: ValueError.3788: `None`.", INTERNAL_ERROR),
    ],
)
def test_projection_fault_ends_the_compile(runner, loop, line, status):
    result = runner.run_script("bad.py", HEAD + "\n" + loop + "\n")
    assert result.stdout == "# COMPILE..\n" + line + "\n"
    assert result.returncode == status
    assert list(runner.dir.glob("bad.*.so")) == []


def test_dependency_cycle_is_an_internal_error(runner):
    loop = "for t in zel.projection(n):\n    y[t] = x[t] * 2\n    x[t] = y[t] + 1\n"
    result = runner.run_script("cycle.py", HEAD + "\n" + loop)
    lines = result.stdout.splitlines()
    assert lines[:2] == ["# COMPILE..", FATAL + "ReferenceError: Circular reference error: ['x', 'y']"]
    # The names once more as the interpreter shows a set: in its own order.
    assert lines[2:] in (["{'x', 'y'}"], ["{'y', 'x'}"])
    assert result.returncode == INTERNAL_ERROR


def test_else_clause_runs_only_without_break(runner):
    # One group per loop, so the interpreter's plain loop is the reference.
    source = """\
import zel
import numpy as np


def first_steps(x: ((0,), 'f8'), stop: int) -> int:
    ended: int = 0
    for t in zel.projection(x.shape[0]):
        x[t] = t * 2.0
        if t == stop:
            break
    else:
        ended = 1
    return ended


n: int = 4
x = np.zeros((n,), 'f8')
for t in zel.projection(n):
    x[t] = t
    if t == 2:
        break
else:
    print('else ran')
print(x.tolist())
for t in zel.projection(n):
    x[t] = t + 1
else:
    print('else ran without break')
print(first_steps(x, 1), first_steps(x, 9), x.tolist())
"""
    runner.assert_prints_as_cpython("orelse.py", source,
                                    reference=source.replace("zel.projection", "range"))


def test_reads_ahead_wait_for_their_writers(runner):
    # The operands in either order, and indices written out in full: every statement that
    # reads ahead runs after all steps of what it reads.
    source = """\
import zel
import numpy as np

n: int = 6
rows: int = 2
a = np.zeros((n,), 'f8')
b = np.zeros((n,), 'f8')
c = np.zeros((n,), 'f8')
for t in zel.projection(n):
    b[t] = t * 1.0
    a[t] = b[t] + b[t + 1] if t + 1 < n else b[t]
    c[t] = b[t + 1] + b[t] if t + 1 < n else b[t]
print(a.tolist(), c.tolist())
x = np.zeros((rows, n), 'f8')
y = np.zeros((rows, n), 'f8')
for r in range(rows):
    for t in zel.projection(r, n):
        y[r, t] = x[r, t + 1] if t + 1 < n else 0.0
        x[r, t] = t + 10.0 * r
print(y.tolist())
"""
    result = runner.run_script("ahead.py", source)
    assert result.stdout == (
        "# COMPILE..\n# RUN\n"
        "[1.0, 3.0, 5.0, 7.0, 9.0, 5.0] [1.0, 3.0, 5.0, 7.0, 9.0, 5.0]\n"
        "[[1.0, 2.0, 3.0, 4.0, 5.0, 0.0], [11.0, 12.0, 13.0, 14.0, 15.0, 0.0]]\n")
    assert result.returncode == 0


# b reads a ahead, so it waits for every step of a and counts down, however a is made.
READ_AHEAD = """\
import zel
import numpy as np

n: int = 5
a = {make}
b = {make}
for t in zel.projection(n):
    b[t] = a[t + 1] if t + 1 < n else -1.0
    a[t] = t + 1.0
print([float(v) for v in a], [float(v) for v in b])
"""
# The same loop over parameters that carry no annotation.
READ_AHEAD_IN_FUNCTION = """\
import zel
import numpy as np


def shift(a, b):
    n = len(a)
    for t in zel.projection(n):
        b[t] = a[t + 1] if t + 1 < n else -1.0
        a[t] = t + 1.0


a = np.zeros(5, dtype='f8')
b = np.zeros(5, dtype='f8')
shift(a, b)
print(a.tolist(), b.tolist())
"""


@pytest.mark.parametrize("source", [READ_AHEAD.format(make="np.zeros(n, dtype='f8')"),
                                    READ_AHEAD.format(make="[0.0] * n"), READ_AHEAD_IN_FUNCTION],
                         ids=["dtype keyword", "list", "parameters"])
def test_arrays_zel_does_not_type_are_ordered(runner, source):
    result = runner.run_script("untyped.py", source)
    assert (result.stdout, result.returncode) == (
        "# COMPILE..\n# RUN\n[1.0, 2.0, 3.0, 4.0, 5.0] [2.0, 3.0, 4.0, 5.0, -1.0]\n", 0)


@pytest.mark.parametrize(
    "body, printed",
    [
        # The reader ahead waits for both writers of a; the in-place add follows the first one,
        # which waits for u.
        ("b[t] = a[t + 1] if t + 1 < n else -1.0\na[t] = u[t] + 1.0\nu[t] = t * 10.0\n"
         "a[t] += 0.5",
         "[1.5, 11.5, 21.5, 31.5, 41.5] [11.5, 21.5, 31.5, 41.5, -1.0]"),
        # The reader behind waits for both writers of a.
        ("a[t] = u[t] + 1.0\nb[t] = a[t - 1] if t > 0 else -1.0\nu[t] = t * 3.0\n"
         "a[t] = a[t] * 2.0",
         "[2.0, 8.0, 14.0, 20.0, 26.0] [-1.0, 2.0, 8.0, 14.0, 20.0]"),
        # Each writer runs over every step before the next: the recurrence reads its own steps.
        ("a[t] = a[t - 1] + 1.0 if t > 0 else 0.0\na[t] += 10.0\nb[t] = a[t]",
         "[10.0, 11.0, 12.0, 13.0, 14.0] [10.0, 11.0, 12.0, 13.0, 14.0]"),
    ],
)
def test_every_writer_orders_the_readers(runner, body, printed):
    source = ("import zel\nimport numpy as np\n\nn: int = 5\n" +
              "".join(f"{name} = np.zeros(n, 'f8')\n" for name in "abu") +
              "for t in zel.projection(n):\n" + textwrap.indent(body, "    ") +
              "\nprint(a.tolist(), b.tolist())\n")
    result = runner.run_script("writers.py", source)
    assert (result.stdout, result.returncode) == ("# COMPILE..\n# RUN\n" + printed + "\n", 0)


# Reads at indices not tied to the loop variable, and the model's order of the statements: each
# statement runs over every step after all the writers of what it reads. No statement's
# direction changes what it reads, so the model runs every statement forward.
FAR_READS = [
    (["b[t] = a[n - 1 - t]", "a[t] = t + 1.0"], [1, 0]),
    (["b[t] = a[n - 1] + a[t]", "a[t] = t + 1.0"], [1, 0]),
    (["b[t] = a[2 * t] if 2 * t < n else -1.0", "a[t] = t * 3.0"], [1, 0]),
    (["b[t] = a[j]", "a[t] = u[t] * 2.0"], [1, 0]),
    (["a[t] = t + 1.0", "b[t] = a[t] * 2.0",
      "c[t] = (c[t - 1] if t > 0 else 0.0) + b[n - 1 - t]"], [0, 1, 2]),
    # Reader and writer read at the same offset, which alone would let them share a loop.
    (["a[t] = (u[t - 1] if t > 0 else 0.5) + t",
      "b[t] = (a[t - 1] if t > 0 else 0.0) + a[n - 1 - t]"], [0, 1]),
    (["b[t] = (a[t + 1] if t + 1 < n else 0.0) + a[0]",
      "a[t] = (u[t + 1] if t + 1 < n else 0.0) + t + 1.0"], [1, 0]),
    (["for k in range(n):\n    b[t] += a[k]", "a[t] = t + 1.0"], [1, 0]),
    (["b[t] = a[0] + a[n - 1]", "a[t] = t + 1.0", "a[t] += 10.0"], [1, 2, 0]),
]


def far_reads_script(make, model, cases=FAR_READS):
    """Every case as a projection loop, or as the model runs it: each statement of the order
    over every step, counting down for those a case lists third."""
    lines = ["import zel", "import numpy as np", "", "n: int = 5", "j: int = 3",
             f"u = {make}", "for i in range(n):", "    u[i] = i * 0.5 + 1.0"]
    for number, (body, order, *down) in enumerate(cases):
        lines += [f"{name} = {make}" for name in "abc"]
        if model:
            for k in order:
                steps = "range(n - 1, -1, -1)" if down and k in down[0] else "range(n)"
                lines += [f"for t in {steps}:", textwrap.indent(body[k], "    ")]
        else:
            lines += ["for t in zel.projection(n):"] + [textwrap.indent(s, "    ") for s in body]
        lines.append(f"print({number}, " +
                     ", ".join(f"[float(v) for v in {name}]" for name in "abc") + ")")
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("make", ["np.zeros(n, 'f8')", "[0.0] * n"], ids=["typed", "list"])
def test_reads_at_any_step_wait_for_every_step_of_the_writer(runner, make):
    runner.assert_prints_as_cpython("far.py", far_reads_script(make, model=False),
                                    reference=far_reads_script(make, model=True))


def test_read_at_any_step_of_its_own_reader_is_a_cycle(runner):
    loop = "for t in zel.projection(n):\n    y[t] = x[n - 1 - t]\n    x[t] = y[t] + 1.0\n"
    result = runner.run_script("cycle.py", HEAD + "\n" + loop)
    lines = result.stdout.splitlines()
    assert lines[:2] == ["# COMPILE..", FATAL + "ReferenceError: Circular reference error: ['x', 'y']"]
    assert result.returncode == INTERNAL_ERROR


# Writes at indices not tied to the loop variable, behind or ahead of it, and the model's order of
# the statements, with those it counts down: each statement runs over every step after all the
# writers of what it reads, wherever they write it.
FAR_WRITES = [
    (["b[t] = a[t]", "a[n - 1 - t] = t + 1.0"], [1, 0]),
    (["b[t] = a[t] + a[0]", "a[0] = a[0] + u[t]"], [1, 0]),
    (["c[t] = a[t] * 2.0", "for k in range(n):\n    a[k] += u[t]"], [1, 0]),
    (["a[t], c[n - 1 - t] = u[t], u[t] * 3.0", "b[t] = c[t] + a[t]"], [0, 1]),
    # Behind the loop variable in a loop counting up, which reader and writer share as both read
    # behind.
    (["b[t] = a[t] + (u[t - 1] if t > 0 else 0.0)", "if t > 0:\n    a[t - 1] = u[t - 1] + 1.0"],
     [1, 0]),
    (["b[t] = (a[t - 1] if t > 0 else 0.0) + a[t]", "if t > 0:\n    a[t - 1] = u[t] + u[t - 1]"],
     [1, 0]),
    # Ahead of it in a loop counting down.
    (["b[t] = a[t] + (u[t + 1] if t + 1 < n else 0.0)", "if t + 1 < n:\n    a[t + 1] = u[t + 1] * 2.0"],
     [1, 0], [0, 1]),
    # Ahead in a loop counting up, behind in one counting down: one loop gives the same.
    (["b[t] = a[t]", "if t + 1 < n:\n    a[t + 1] = 0.5 * a[t] + u[t]"], [1, 0]),
    (["b[t] = a[t] + (u[t + 1] if t + 1 < n else 0.0)",
      "if t > 0:\n    a[t - 1] = (u[t + 1] if t + 1 < n else 0.0) + 1.0"], [1, 0], [0, 1]),
]


@pytest.mark.parametrize("make", ["np.zeros(n, 'f8')", "[0.0] * n"], ids=["typed", "list"])
def test_writes_off_the_loop_variable_are_read_as_the_model_does(runner, make):
    runner.assert_prints_as_cpython("writes.py", far_reads_script(make, model=False, cases=FAR_WRITES),
                                    reference=far_reads_script(make, model=True, cases=FAR_WRITES))


# Recurrences along the rows of a 2-D array and along a 1-D one; `steps` and `rows` may ask for
# more than the arrays hold.
RECURRENCES = """\
import zel
import numpy as np


class Filter:
    def __init__(self, rows: int, n: int):
        self.x = np.zeros((rows, n + 1), 'f8')
        self.y = np.add.outer(np.arange(rows) * 1e-3, np.arange(n) * 1e-4)
        self.w = np.zeros(n + 1, 'f8')


def smooth(x: ((0, 0), 'f8'), y: ((0, 0), 'f8'), rows: int, steps: int):
    r: int
    t: int
    for r in range(rows):
        for t in zel.projection(r, steps):
            x[r, t + 1] = 0.5 * x[r, t] + y[r, t]


def decay(w: (0, 'f8'), v: (0, 'f8'), steps: int):
    t: int
    for t in zel.projection(steps):
        w[t + 1] = w[t] * 0.25 + v[t]


if __name__ == "__main__":
    f = Filter(3, 5)
    try:
        smooth(f.x, f.y, {rows}, {steps})
        decay(f.w, f.y[1], {steps})
    except IndexError as e:
        print(type(e).__name__)
    print(f.x.tolist(), f.w.tolist())
"""


def as_plain_loops(source):
    """The script as CPython runs it: the projection loops as the range loops they become."""
    return (source.replace("zel.projection(r, steps)", "range(steps)")
            .replace("zel.projection(steps)", "range(steps)"))


@pytest.mark.parametrize("rows, steps", [(3, 5), (3, 0), (4, 5), (3, 6), (2, 3)],
                         ids=["in range", "no steps", "a row too many", "a step too many", "part"])
def test_recurrences_run_as_their_plain_loops(runner, rows, steps):
    source = RECURRENCES.format(rows=rows, steps=steps)
    runner.assert_prints_as_cpython("recurrences.py", source, reference=as_plain_loops(source))


@pytest.mark.parametrize("rows, steps, axis", [(4, 5, 0), (3, 6, 1)])
def test_index_out_of_range_is_reported_on_its_line(runner, rows, steps, axis):
    source = RECURRENCES.format(rows=rows, steps=steps).replace(
        "    try:\n        smooth", "    if True:\n        smooth").replace(
        "    except IndexError as e:\n        print(type(e).__name__)\n", "")
    line = source.splitlines().index("            x[r, t + 1] = 0.5 * x[r, t] + y[r, t]") + 1
    result = runner.run_script("fails.py", source)
    assert result.stdout.splitlines()[-3:] == [
        f'File "fails.py",  line {line}, in smooth', "x[r, t + 1] = 0.5 * x[r, t] + y[r, t]",
        f"Out of bounds on buffer access (axis {axis})"]
    assert result.returncode == 1
