"""The typed examples: their generated declarations, and their output when run as scripts."""
import ast
import pathlib
import re
import shutil

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
MARKER = re.compile(r"#lInE-?\d+EnIl")

CASES = {
    "typed_scalars.py": (
        [
            "cdef double height(double x) nogil:",
            "def report(label, *values, sep=' ', **units):",
            "cdef long long steps = 1000000",
            "cdef double width = 1.0 / steps",
            "cdef double x",
            "    x = (i + 0.5) * width",
        ],
        [
            "pi is about 3.141593",
            "steps 1000000 / 1e-06",
            "error below 1e-09 (absolute)",
            "ok",
        ],
    ),
    "array_sum.py": (
        [
            "cdef double total(double[:,::1] grid) nogil:",
            "    cdef double s = 0.0",
            "cdef long long row_sums(double[:,::1] grid, double[::1] out) nogil:",
            "cdef double[:,::1] grid = np.zeros((rows, cols), np.float64)",
            "cdef double[::1] sums = np.zeros(rows, 'f8')",
        ],
        [
            "rows summed 300",
            "first rows 19900.0 20000.0 20100.0",
            "sum 10455000.0",
            "numpy agrees True",
        ],
    ),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_example_declarations(zel_ns, name):
    tree = ast.parse((EXAMPLES / name).read_text(encoding="utf-8"))
    zel_ns.ZELAst.restruct(tree)
    unparser = zel_ns.ZELUnparser()
    unparser.traverse(tree)
    unparser.finalize()
    lines = MARKER.sub("", "".join(unparser._source)).splitlines()
    for line in CASES[name][0]:
        assert line in lines


@pytest.mark.parametrize("name", sorted(CASES))
def test_example_runs(runner, name):
    shutil.copy(EXAMPLES / name, runner.dir / name)
    result = runner.run(name)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines()[-len(CASES[name][1]):] == CASES[name][1]
    assert "# RUN" in result.stdout


MIXED = '''
import zel
import numpy as np


class Point:
    def __init__(self, x, y):
        self.x: float = x
        self.y: int = y


def g(a, /, b=2, *rest, key=None, **kw):
    return (a, b, rest, key, sorted(kw))


name: str = 'zel'
a, b = 1, 2
first = second = [a, b]
head = lambda *xs, k=0: xs[k]
p = Point(1.5, 2)
grid = np.zeros((2, 3), dtype='f8')
acc: float = 0.0
for i in range(3):
    t: float = i * 0.5
    acc += t
for j in range(2):
    t: float = j * 2.0
    acc += t
print(name, a, b, first is second, head(4, 5, k=1), p.x, p.y)
print(g(1), g(1, 3, 4, 5, key='k', z=1, y=2))
print(grid.shape, acc, t)
'''


def test_untyped_code_around_typed_declarations_runs(runner):
    result = runner.run_script("mixed.py", MIXED)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines()[-3:] == [
        "zel 1 2 True 5 1.5 2",
        "(1, 2, (), None, []) (1, 3, (4, 5), 'k', ['y', 'z'])",
        "(2, 3) 3.5 2.0",
    ]
