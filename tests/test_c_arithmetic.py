"""Arithmetic on C-typed values, run as scripts: division by zero raises, division rounds as
Python's does, and results C would get wrong are Python's or Python's error."""
import pytest

INT_BY_ZERO = "integer division or modulo by zero"


@pytest.mark.parametrize(
    "body, report",
    [
        (
            "a: int = 5\nb: int = int('0')\nprint(a % b)\n",
            ['File "div.py",  line 4, in <module>', "print(a % b)", INT_BY_ZERO],
        ),
        (
            "def f(a: int, b: int) -> int:\n    return a // b\n\nprint(f(5, int('0')))\n",
            ['File "div.py",  line 3, in f', "return a // b", INT_BY_ZERO],
        ),
        (
            "def g(x: float, y: float) -> float:\n    return x / y\n\nprint(g(1.0, 0.0))\n",
            ['File "div.py",  line 3, in g', "return x / y", "float division"],
        ),
    ],
)
def test_division_by_zero_is_reported_on_the_script_line(runner, body, report):
    result = runner.run_script("div.py", "import zel\n" + body)
    assert result.stdout.splitlines() == ["# COMPILE..", "# RUN", *report]
    assert result.returncode == 1


NEGATIVE_OPERANDS = """\
import zel


def typed(a: int, b: int, x: float) -> float:
    return (a // b) * 1000.0 + (a % b) * 100.0 + (x % 2.0) * 10.0 + x // 2.0


a: int = -7
b: int = 2
x: float = -7.0
print(a // b, a % b, a // -b, a % -b, x % 2.0, x // 2.0, -x % -2.0, a / b)
print(typed(a, b, x), typed(7, -2, 7.0))
"""


def test_floor_division_and_modulo_as_in_python(runner):
    result = runner.run_script("negative.py", NEGATIVE_OPERANDS)
    assert result.returncode == 0, result.stdout + result.stderr
    plain = runner.run_script("plain.py", NEGATIVE_OPERANDS.replace("import zel\n", "", 1))
    assert result.stdout.splitlines()[2:] == plain.stdout.splitlines()


def plain_python(source):
    """The script as CPython runs it: without zel, its parallel loops plain `range` loops."""
    return source.replace("import zel\n", "", 1).replace("zel.range(", "range(")


def assert_prints_as_python(runner, source):
    built = runner.run_script("built.py", source)
    plain = runner.run_script("plain.py", plain_python(source))
    assert plain.returncode == 0, plain.stderr
    assert (built.stdout.splitlines()[2:], built.returncode) == (plain.stdout.splitlines(), 0), \
        built.stdout + built.stderr


SMALLEST_BY_MINUS_ONE = """\
import zel
import numpy as np
a = np.zeros(3, '{dt}')
b = np.zeros(3, '{dt}')
a[0] = -2 ** {bits}
b[0] = -1
a[1] = -7
b[1] = 2
a[2] = 7
b[2] = -3
c = np.zeros(3, '{dt}')
"""


@pytest.mark.parametrize(
    "dt, bits, compute",
    [
        ("i8", 63, "i: int\nfor i in range(3):\n    c[i] = a[i] % b[i]\n"),
        ("i4", 31, "def rem(a: (0, 'i4'), b: (0, 'i4'), i: int) -> int:\n    return a[i] % b[i]\n\n"
                   "i: int\nfor i in range(3):\n    c[i] = rem(a, b, i)\n"),
        ("i4", 31, "for i in zel.range(3):\n    c[i] = a[i] % b[i]\n"),
    ],
    ids=["module", "function", "parallel"],
)
def test_remainder_of_the_smallest_integer_by_minus_one(runner, dt, bits, compute):
    source = SMALLEST_BY_MINUS_ONE.format(dt=dt, bits=bits) + compute + "print(list(c))\n"
    assert_prints_as_python(runner, source)


@pytest.mark.parametrize(
    "body",
    [
        "def f(n: int):\n    print([1 << x for x in range(30, 35)], [1 << i for i in range(n)][-1])\n\nf(66)\n",
        "def f():\n    print({x: x * 2 ** 40 for x in range(3)}, {x << 40 for x in range(2)})\n\nf()\n",
        "def f(n: int):\n    print([[x << y for y in range(n)] for x in range(2)][1][-1])\n\nf(70)\n",
        "def f(n: int):\n    print(sum(1 << x for x in range(n)), list(map(lambda x: x << 64, range(2))))\n\nf(70)\n",
        "print([1 << x for x in range(30, 35)])\n",
    ],
    ids=["list", "dict-set", "nested", "generator-lambda", "module"],
)
def test_untyped_names_in_comprehensions_compute_as_python(runner, body):
    assert_prints_as_python(runner, "import zel\n" + body)
