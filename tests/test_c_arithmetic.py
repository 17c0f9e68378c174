"""Division on C-typed values, run as scripts: by zero it raises, and it rounds as Python does."""
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
