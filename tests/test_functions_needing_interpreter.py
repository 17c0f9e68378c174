"""Fully typed functions: C functions without the interpreter where the compiler accepts their
bodies so, with it where it does not, and Python function objects in either case."""
import ast
import textwrap

import pytest

from pyx_helpers import MARKER


def pyx_of(ns, source):
    tree = ast.parse(textwrap.dedent(source))
    ns.ZELAst.restruct(tree)
    return ns.ZEL.unparse(tree, ns.ZELAst.openmp)


def header_lines(text, names):
    lines = [MARKER.sub("", line) for line in text.splitlines()]
    return [n for n, line in enumerate(lines, 1) if any(f" {name}(" in line for name in names)
            and line.startswith("cdef ")]


# Each body the compiler refuses without the interpreter, beside one it accepts.
NEEDS_INTERPRETER = """\
import math

def area(r: float) -> float:
    return math.pi * r * r

def sq(x: float) -> float:
    k: int = 0
    for i in range(3):
        k += i
    return x * x + k

def tot(n: int) -> int:
    k = 0
    for i in range(n):
        k += i
    return k
"""


def test_the_compiler_names_the_functions_that_need_the_interpreter(zel_ns):
    text, line_map = pyx_of(zel_ns, NEEDS_INTERPRETER)
    with pytest.raises(zel_ns.ZELCython.InterpreterNeeded) as raised:
        zel_ns.ZELCython.convert(text, "needs", line_map)
    assert raised.value.args[0] == header_lines(text, ["area", "tot"])
    demoted = zel_ns.ZELCython.with_interpreter(text, raised.value.args[0])
    headers = [MARKER.sub("", line) for line in demoted.splitlines() if line.startswith("cdef ")]
    assert headers[-3:] == [
        "cdef double area(double r):",
        "cdef double sq(double x) nogil:",
        "cdef long long tot(long long n):",
    ]
    assert zel_ns.ZELCython.convert(demoted, "needs", line_map).count("\n") > 100


def test_marking_a_function_keeps_every_line(zel_ns):
    text = "cpdef double f(double x) nogil:#lInE3EnIl\n    return x#lInE4EnIl\n"
    assert zel_ns.ZELCython.with_interpreter(text, [1]) == (
        "cpdef double f(double x):#lInE3EnIl\n    return x#lInE4EnIl\n"
    )


TYPED_PROGRAM = """\
import zel
import math
import struct

SCALE = 3
LIMIT: int = 100


def area(r: float) -> float:
    \"\"\"Area of a disc.\"\"\"
    return math.pi * r * r


def sq(x: float) -> float:
    return x * x


def triangle(n: int) -> int:
    k = 0
    for i in range(n):
        k += i
    return k


def safe_ratio(a: float, b: float) -> float:
    try:
        return a / b
    except ZeroDivisionError:
        return -1.0


def scaled(n: int) -> int:
    if n < 0:
        raise ValueError(f"negative: {n}")
    return n * SCALE


def nearest(x: float) -> int:
    return int(round(x))


def is_int(x: float) -> int:
    return 1 if isinstance(x, int) else 0


def packed_size(n: int) -> int:
    return len(struct.pack("<iq", n, n))


def squares(n: int) -> int:
    values = [i * i for i in range(n)]
    return sum(values)


def any_over(n: int, bound: int) -> int:
    return 1 if any(i * i > bound for i in range(n)) else 0


def describe(x: float) -> float:
    print("describe", x)
    return x


def combined(x: float) -> float:
    return sq(x) + area(x) + describe(x)


def capped(n: int) -> int:
    return min(n, LIMIT)


if __name__ == "__main__":
    print(area(2.0), sq(3.0), triangle(10), safe_ratio(1.0, 4.0), safe_ratio(1.0, 0.0))
    print(scaled(4), nearest(2.6), nearest(-2.5), is_int(2.0), packed_size(7))
    print(squares(5), any_over(5, 10), any_over(3, 10), combined(2.0), capped(250))
    try:
        scaled(-1)
    except ValueError as e:
        print("refused:", e)
    print(sq.__name__, area.__doc__, sq.__doc__)
    print(sorted([3.0, -4.0, 1.0], key=sq), list(map(sq, [1.0, 2.0])), max([1.5, -2.5], key=sq))
    table = {"sq": sq, "area": area}
    print(sorted(table), table["sq"](4.0), round(table["area"](1.0), 6))
    print(triangle(n=4), callable(sq), sq.__name__ in globals())
"""


def test_typed_functions_print_what_cpython_prints(runner):
    runner.assert_prints_as_cpython("typed_program.py", TYPED_PROGRAM)


@pytest.mark.parametrize(
    "call, line",
    [
        ("a[i] = area(i * 1.0)", 14),
        # A function that stays clean by itself needs the interpreter through its callee.
        ("a[i] = twice(i * 1.0)", 14),
    ],
)
def test_call_from_a_parallel_loop_is_one_line(runner, call, line):
    source = f"""\
import zel
import math
import numpy as np

def area(r: float) -> float:
    return math.pi * r * r

def twice(r: float) -> float:
    return 2.0 * area(r)

n: int = 10
a = np.zeros(n, 'f8')
for i in zel.range(n):
    {call}
print(a.sum())
"""
    result = runner.run_script("parallel_call.py", source)
    name = call.split("= ")[1].split("(")[0]
    assert result.stdout == (
        f"# COMPILE..\n`{name}` needs the interpreter and cannot be called from a parallel loop, "
        f"line {line}\n"
    )
    assert result.returncode == 1
