"""Typed scalars and a C function called in a loop: pi by the midpoint rule."""
import zel


def height(x: 'f8') -> 'f8':
    return 4.0 / (1.0 + x * x)


def report(label, *values, sep=' ', **units):
    # An ordinary Python function next to the typed ones.
    text = sep.join(str(v) + units.get('unit', '') for v in values)
    print(label, text)


steps: int = 1000000
width: float = 1.0 / steps
area: float = 0.0
for i in range(steps):
    x: float = (i + 0.5) * width
    area += height(x)
area *= width

report('pi is about', round(area, 6))
report('steps', steps, width, sep=' / ')
report('error below', 1e-9, unit=' (absolute)')
print('ok' if abs(area - 3.141592653589793) < 1e-9 else 'wrong')
