"""The statements of a projection loop run in the order their data needs, not as written."""
import zel
import numpy as np

n: int = 6
t: int
step = np.zeros(n, 'f8')
level = np.zeros(n, 'f8')
ahead = np.zeros(n, 'f8')
mid = np.zeros(n, 'f8')

for t in zel.projection(n):
    # Needs level and ahead: runs last.
    mid[t] = 0.5 * (level[t] + ahead[t])
    # Reads level one step ahead: runs after every step of level, counting down.
    ahead[t] = level[t + 1] if t + 1 < n else level[t]
    # Needs step.
    level[t] = level[t - 1] + step[t] if t > 0 else step[t]
    # Needs nothing: runs first.
    step[t] = t + 1.0

print('step ', step.tolist())
print('level', level.tolist())
print('ahead', ahead.tolist())
print('mid  ', mid.tolist())
print('mid follows level and ahead', np.array_equal(mid, 0.5 * (level + ahead)))
