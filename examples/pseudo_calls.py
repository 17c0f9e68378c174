"""Facts the compiler knows, folded into constants: level, types, line numbers, block depth."""
import zel
import numpy as np

count: int = 3
grid = np.zeros((4, 4), np.float64)
label = 'grid'

print('level', zel.level())
print('this is line', zel.lineno())
print('count is', zel.type(count))
print('grid is', zel.type(grid))
print('label is', zel.type(label))


def show_depth():
    print('function body depth', zel.depth())
    if count > 0:
        print('branch depth', zel.depth())
        while True:
            print('loop depth', zel.depth())
            break


show_depth()
