"""Projection loops in real scripts: the faults that end the compile, with their lines and statuses."""
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
        ("for t in zel.projection(n):\n    y[t] = x[t]\n    값 = y[t]",
         FATAL + "SyntaxError: Encoding error `값` at line 11", INTERNAL_ERROR),
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
