"""A time-stepped recurrence over the rows of a 2-D array, written as a projection loop."""
import zel
import numpy as np


def smooth(x: ((0, 0), 'f8'), y: ((0, 0), 'f8')) -> int:
    r: int
    t: int
    for r in range(x.shape[0]):
        # Inside the loop x[t] means x[r, t]. The steps run from 0, so step 0 has no t - 1.
        for t in zel.projection(r, x.shape[1]):
            x[t] = 0.5 * x[t - 1] + y[t] if t > 0 else y[t]
    return x.shape[0]


rows: int = 3
steps: int = 6
r: int
t: int
y = np.zeros((rows, steps), 'f8')
for r in range(rows):
    for t in range(steps):
        y[r, t] = r + 0.5 * t

x = np.zeros((rows, steps), 'f8')
for r in range(rows):
    for t in zel.projection(r, steps):
        x[t] = 0.5 * x[t - 1] + y[t] if t > 0 else y[t]

for r in range(rows):
    print('row', r, np.round(x[r], 4).tolist())

expected = np.zeros((rows, steps))
expected[:, 0] = y[:, 0]
for t in range(1, steps):
    expected[:, t] = 0.5 * expected[:, t - 1] + y[:, t]
print('recurrence agrees', np.allclose(x, expected))

x2 = np.zeros((rows, steps), 'f8')
print('rows smoothed in a function', smooth(x2, y))
print('function agrees', np.array_equal(x2, x))
