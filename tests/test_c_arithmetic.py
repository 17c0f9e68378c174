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
    runner.assert_prints_as_cpython("negative.py", NEGATIVE_OPERANDS)


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
    runner.assert_prints_as_cpython("built.py", source)


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
    runner.assert_prints_as_cpython("built.py", "import zel\n" + body)


def assert_raises_as_python(runner, source, line, message):
    """The build stops on the script's line with the message CPython's error carries."""
    built = runner.run_script("built.py", source)
    plain = runner.run_script("plain.py", runner.without_zel(source))
    assert plain.returncode == 1 and plain.stderr.splitlines()[-1].endswith(": " + message)
    report = built.stdout.splitlines()[-3:]
    assert (report[0].split(", in ")[0], report[-1], built.returncode) == (
        f'File "built.py",  line {line}', message, 1), built.stdout + built.stderr


NAN_MESSAGE = "cannot convert float NaN to integer"
INFINITY_MESSAGE = "cannot convert float infinity to integer"
CONVERSIONS = {
    "module": "d: float = float(sys.argv[1])\nk: int = int(d)\nprint(k)\n",
    "function": "def conv(d: float) -> int:\n    k: int = int(d)\n    return k\n\n"
                "print(conv(float(sys.argv[1])))\n",
    "parallel": "a = np.zeros(2, 'f8')\nb = np.zeros(2, 'i8')\na[1] = float(sys.argv[1])\n"
                "for i in zel.range(2):\n    b[i] = int(a[i])\nprint(b[1])\n",
}
CONVERSION_LINES = {"module": 5, "function": 5, "parallel": 8}
CONVERSION_HEAD = "import zel\nimport sys\nimport numpy as np\n"


@pytest.mark.parametrize("placement", sorted(CONVERSIONS))
@pytest.mark.parametrize("value, message", [("nan", NAN_MESSAGE), ("-inf", INFINITY_MESSAGE)])
def test_nan_and_infinity_to_an_integer_raise_as_python(runner, placement, value, message):
    source = CONVERSION_HEAD + CONVERSIONS[placement]
    runner.write("built.py", source)
    runner.write("plain.py", runner.without_zel(source))
    built = runner.run("built.py", value)
    plain = runner.run("plain.py", value)
    assert plain.stderr.splitlines()[-1] == ("ValueError: " if value == "nan" else "OverflowError: ") + message
    report = built.stdout.splitlines()[2:]
    assert (report[0].split(", in ")[0], report[-1], built.returncode) == (
        f'File "built.py",  line {CONVERSION_LINES[placement]}', message, 1), built.stdout + built.stderr


@pytest.mark.parametrize("placement", sorted(CONVERSIONS))
def test_floats_in_range_convert_and_others_overflow(runner, placement):
    source = CONVERSION_HEAD + CONVERSIONS[placement]
    runner.write("built.py", source)
    for value, printed in [("-2.7", "-2"), ("-9223372036854775808.0", "-9223372036854775808"),
                           ("9.2233720368547748e18", "9223372036854774784")]:
        result = runner.run("built.py", value)
        assert (result.stdout.splitlines()[-1], result.returncode) == (printed, 0)
    result = runner.run("built.py", "9.3e18")
    assert (result.stdout.splitlines()[-1], result.returncode) == (
        "value too large to convert to long long", 1)


@pytest.mark.parametrize(
    "body, line, message",
    [
        ("def p(x: float, y: float) -> float:\n    return x ** y\n\nprint(p(2.0, 3.0))\nprint(p(0.0, -1.0))\n",
         4, "0.0 cannot be raised to a negative power"),
        ("x: float = 0.0\ny: float = -1.0\nz: float = x ** y\n", 5,
         "0.0 cannot be raised to a negative power"),
        ("x: float = 10.0\ny: float = 400.0\nz: float = x ** y\n", 5, "(34, 'Numerical result out of range')"),
        ("def s(x: int, n: int) -> int:\n    return x << n\n\nprint(s(1, 3))\nprint(s(1, -1))\n",
         4, "negative shift count"),
        ("a = np.zeros(2, 'i8')\na[0] = 3\na[1] = -1\n"
         "for i in zel.range(2):\n    k: int = int(a[i])\n    a[i] = 1 << k\n", 8, "negative shift count"),
    ],
    ids=["power-function", "power-module", "power-overflow", "shift-function", "shift-parallel"],
)
def test_c_results_python_refuses_raise_as_python(runner, body, line, message):
    assert_raises_as_python(runner, "import zel\nimport numpy as np\n" + body, line, message)


SHIFTS_AND_POWERS = """\
import zel


def shifts(x: int, n: int) -> int:
    return (x << n) + (x >> n) + (-x >> n)


def power(x: float, y: float) -> float:
    return x ** y


print(shifts(5, 3), shifts(-9, 1), shifts(7, 100), shifts(-7, 100), shifts(-7, 63))
print(power(2.0, 0.5), power(0.0, 2.0), power(-2.0, 3.0), power(10.0, -400.0))
"""


def test_shifts_past_the_width_and_valid_powers(runner):
    # Past the width, a left shift wraps to 0, as every typed integer result wraps; a right
    # shift gives Python's result.
    built = runner.run_script("built.py", SHIFTS_AND_POWERS)
    assert built.returncode == 0, built.stdout + built.stderr
    assert built.stdout.splitlines()[2:] == [
        "39 -19 -1 -1 9223372036854775807",
        "1.4142135623730951 0.0 -8.0 0.0",
    ]
