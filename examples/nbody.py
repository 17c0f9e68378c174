"""An n-body step: every body's acceleration from all the others, computed in a parallel loop,
then a leapfrog update. `sqrt` in the loop is the C library's: `math.sqrt` is a Python call,
which code without the interpreter lock cannot make. The same import line runs under plain
CPython where Cython is installed, with Python's own square root."""
import zel
from cython.cimports.libc.math import sqrt
import numpy as np

SOFTENING: float = 1e-3


def accelerations(pos: ((0, 3), 'f8'), mass: (0, 'f8'), acc: ((0, 3), 'f8'), n: int):
    for i in zel.range(n):
        ax: float = 0.0
        ay: float = 0.0
        az: float = 0.0
        for j in range(n):
            dx: float = pos[j, 0] - pos[i, 0]
            dy: float = pos[j, 1] - pos[i, 1]
            dz: float = pos[j, 2] - pos[i, 2]
            r: float = sqrt(dx * dx + dy * dy + dz * dz + SOFTENING)
            f: float = mass[j] / (r * r * r)
            ax = ax + f * dx
            ay = ay + f * dy
            az = az + f * dz
        acc[i, 0] = ax
        acc[i, 1] = ay
        acc[i, 2] = az
    return n


def energy(pos, vel, mass) -> float:
    kinetic = 0.5 * float((mass[:, None] * vel * vel).sum())
    potential = 0.0
    for i in range(len(mass)):
        for j in range(i + 1, len(mass)):
            d = pos[i] - pos[j]
            potential -= mass[i] * mass[j] / float(np.sqrt((d * d).sum() + SOFTENING))
    return kinetic + potential


if __name__ == "__main__":
    n: int = 64
    rng = np.random.default_rng(7)
    pos = rng.standard_normal((n, 3))
    vel = rng.standard_normal((n, 3)) * 0.1
    mass = rng.uniform(0.5, 1.5, n)
    acc = np.zeros((n, 3), 'f8')
    dt = 0.01
    print("energy before", round(energy(pos, vel, mass), 9))
    for step in range(10):
        accelerations(pos, mass, acc, n)
        vel += acc * dt
        pos += vel * dt
    print("energy after ", round(energy(pos, vel, mass), 9))
    print("first body", pos[0].round(9).tolist())
