"""A 2-D array filled with a formula and summed by a typed function."""
import zel
import numpy as np


def total(grid: ((0, 0), 'f8')) -> 'f8':
    s: float = 0.0
    for i in range(grid.shape[0]):
        for j in range(grid.shape[1]):
            s += grid[i, j]
    return s


def row_sums(grid: ((0, 0), 'f8'), out: (0, 'f8')) -> int:
    for i in range(grid.shape[0]):
        out[i] = 0.0
        for j in range(grid.shape[1]):
            out[i] += grid[i, j]
    return grid.shape[0]


rows: int = 300
cols: int = 200
grid = np.zeros((rows, cols), np.float64)
for i in range(rows):
    for j in range(cols):
        grid[i, j] = i * 0.5 + j

sums = np.zeros(rows, 'f8')
print('rows summed', row_sums(grid, sums))
print('first rows', sums[0], sums[1], sums[2])
print('sum', total(grid))
print('numpy agrees', total(grid) == grid.sum())
