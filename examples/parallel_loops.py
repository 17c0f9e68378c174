"""Loops over zel.range run on every core: a map in a function, the same map at module level,
and a parallel sum. The body of a parallel loop runs without the interpreter lock, so every
name it uses is typed: arrays made by numpy.zeros, annotated scalars, typed parameters."""
import zel
import numpy as np


def fill(a: (0, 'f8'), n: int):
    # Typed parameters and no return annotation: a Python function holding a parallel loop.
    for i in zel.range(n):
        x: float = i * 1e-3
        a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0
    return n


n: int = 1000000
a = np.zeros(n, 'f8')
print('filled', fill(a, n))

b = np.zeros(n, 'f8')
i: int
x: float
for i in zel.range(n):
    x = i * 1e-3
    b[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0
print('same at module level', np.array_equal(a, b))

# An in-place sum over a scalar is a reduction: each thread sums its share.
s: float = 0.0
for i in zel.range(n):
    s += a[i] * a[i]
print('sum of squares close to numpy', abs(s - (a * a).sum()) < 1e-9 * s)
print('last', round(b[n - 1], 3))
