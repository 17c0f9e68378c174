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
