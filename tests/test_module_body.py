"""The module body written as functions: module-level code and its hot loops keep their meaning."""
import pytest

from pyx_helpers import pyx_lines

# Enough statements that the module body is written into functions of its own.
FILLER = "".join(f"v{k} = {k} * 2\ntotal = total + v{k}\n" for k in range(40))

BODY = """\
import zel
import numpy as np


def show(name):
    return globals()[name]


total = 0
{filler}
def later():
    return total, n, float(s)


square = lambda x: x * x
print(square(total), sum(x + total for x in range(3)), [total + x for x in range(2)])


n: int = 10
a = np.zeros(n, 'f8')
s: float = 0.0
i: int
for i in range(n):
    a[i] = i * 0.5
    s += a[i]
    if i == 6:
        break
print(total, s, i, later(), show('total'))
k: int = 0
while k < 3:
    k += 1
    for j in range(k):
        s += j
print(k, s, later())
try:
    for i in range(n + 5):
        s += a[i]
except IndexError as e:
    print('caught', type(e).__name__, i, s, later())
del total
print('total' in globals(), 'v3' in globals() or {filler!r} == '')
"""


@pytest.mark.parametrize("filler", ["", FILLER], ids=["short", "long"])
def test_module_names_keep_their_values(runner, filler):
    source = BODY.format(filler=filler)
    runner.assert_prints_as_cpython("body.py", source)


@pytest.mark.parametrize("filler", ["", FILLER], ids=["short", "long"])
def test_uncaught_error_in_a_loop_is_reported_in_module(runner, filler):
    source = ("import zel\nimport numpy as np\ntotal = 0\n" + filler +
              "n: int = 4\na = np.zeros(n, 'f8')\ns: float = 0.0\ni: int\n"
              "for i in range(n + 1):\n    s += a[i]\n")
    line = source.count("\n")
    result = runner.run_script("fails.py", source)
    assert result.stdout.splitlines()[-3:] == [
        f'File "fails.py",  line {line}, in <module>', "s += a[i]",
        "Out of bounds on buffer access (axis 0)"]
    assert result.returncode == 1


def loop_function_lines(lines):
    return [line for line in lines if line.startswith("cdef int _zel_loop_")]


def body_function_lines(lines):
    return [line for line in lines if line.startswith("cdef int _zel_body_")]


def test_hot_loop_runs_on_c_locals(zel_ns):
    lines = pyx_lines(zel_ns, """\
        import numpy as np
        n: int = 10
        a = np.zeros(n, 'f8')
        s: float = 0.0
        i: int
        for i in range(n):
            s += a[i]
        print(s)
        """)
    assert loop_function_lines(lines) == [
        "cdef int _zel_loop_0_(long long *_zel_at_i, long long *_zel_at_n, double *_zel_at_s, "
        "double[::1] a) except -1:"]
    start = lines.index(loop_function_lines(lines)[0])
    assert lines[start + 1:start + 4] == [
        "    cdef long long i = _zel_at_i[0]", "    cdef long long n = _zel_at_n[0]",
        "    cdef double s = _zel_at_s[0]"]
    assert "        _zel_at_s[0] = s" in lines and "    finally:" in lines
    assert "_zel_loop_0_(&i, &n, &s, a)" in lines
    assert body_function_lines(lines) == []  # a short module body stays as written


@pytest.mark.parametrize("loop", [
    "for i in range(n):\n    print(i)",            # calls code that may read module names
    "for i in range(n):\n    s += len([q for q in range(i)])",  # a comprehension
    "for i in range(n):\n    s += f(i)",            # a function of the script
    "for i in range(n):\n    s += abs(i)\nabs = 3",  # a builtin the script rebinds
    "for q in range(n):\n    s += q",               # an index of no C type
], ids=["print", "comprehension", "script-function", "rebound-builtin", "untyped-index"])
def test_loops_that_may_see_module_names_stay(zel_ns, loop):
    lines = pyx_lines(zel_ns, "def f(x):\n    return x\nn: int = 3\ns: int = 0\ni: int\n" + loop)
    assert loop_function_lines(lines) == []


def test_long_module_body_is_written_as_functions(zel_ns):
    source = "import math\ntotal = 0\n" + FILLER * 3 + "def g():\n    return total\nprint(g())\n"
    lines = pyx_lines(zel_ns, source)
    bodies = body_function_lines(lines)
    # at most 50 statements each, and one more after the definition
    assert len(bodies) == 6
    assert lines[0] == "import math"  # definitions stay at module level
    assert lines.index("_zel_body_4_()") < lines.index("def g():") < lines.index(
        "_zel_body_5_()")
    first = lines.index(bodies[0])
    assert lines[first + 1].startswith("    global total, v0, v1, v10, ")
    assert lines[first + 2] == "    total = 0"


@pytest.mark.parametrize("statement", [
    "print(locals()['total'])", "exec('total = 1')", "print(dir())",
], ids=["locals", "exec", "dir"])
def test_statements_that_need_the_module_frame_stay(zel_ns, statement):
    lines = pyx_lines(zel_ns, "total = 0\n" + FILLER * 2 + statement + "\n" + FILLER)
    at = lines.index(statement)
    assert not lines[at].startswith(" ")


PARALLEL = """\
import zel
import numpy as np

n: int = 1000
steps: int = 5
a = np.zeros(n, 'f8')
i: int
k: int
for i in zel.range(n):
    x: float = i * 1e-3
    for k in range(steps):
        x = x * x * 0.5 + 0.25
    a[i] = x
print(round(float(np.sum(a)), 9), i)
"""


def test_parallel_loop_with_an_inner_loop_at_module_level(runner):
    runner.assert_prints_as_cpython("parallel.py", PARALLEL)
