"""Untyped code around typed declarations, run as a script."""

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


NEGATIVE_INDICES = '''
import zel
import numpy as np
from collections import deque


class Ring:
    def __init__(self, items: list) -> None:
        self.items = items

    def __getitem__(self, k: int) -> int:
        return self.items[k % len(self.items)]


def tail(v, k: int):
    return v[-k]


x = np.arange(5)
print(x[-1], x[-5], tail(x, 2), tail([1, 2, 3], 1), tail("abc", 3))
k: int = -2
print(x[k], Ring([7, 8, 9])[-1], deque([1, 2, 3])[-1])
x[-1] = 40
m = np.arange(6).reshape(2, 3)
m[-1, -1] = 50
print(x.tolist(), m[-1].tolist(), m[-1][-2])
del_me = [1, 2, 3]
del del_me[-1]
print(del_me)
try:
    print(x[-6])
except IndexError as e:
    print("IndexError:", e)
if __name__ == "__main__":
    y = np.linspace(0.0, 1.0, 5)
    print(y[-1], y[k])
'''


def test_negative_indices_of_python_objects_index_as_in_python(runner):
    # Typed arrays are indexed without wraparound; a Python object's index is the interpreter's.
    expected = runner.interpreted(NEGATIVE_INDICES)
    result = runner.run_script("negative_indices.py", NEGATIVE_INDICES)
    assert (result.returncode, result.stdout, result.stderr) == (
        0, "# COMPILE..\n# RUN\n" + expected, "")
