"""Type-hinted scripts in the styles people write them, each printing what CPython prints."""
import pytest

SCRIPTS = {
    "primes_monte_carlo_matmul.py": """\
import zel
import numpy as np
import random


def sieve(n: int) -> list:
    flags = np.ones(n + 1, dtype=bool)
    flags[:2] = False
    for p in range(2, int(n ** 0.5) + 1):
        if flags[p]:
            flags[p * p::p] = False
    return np.nonzero(flags)[0].tolist()


def count_primes(n: int) -> int:
    marks = np.zeros(n + 1, 'i4')
    count: int = 0
    for p in range(2, n + 1):
        if marks[p] == 0:
            count += 1
            for q in range(p * p, n + 1, p):
                marks[q] = 1
    return count


def monte_carlo(samples: int, seed: int = 1) -> float:
    rng = random.Random(seed)
    hits = 0
    for _ in range(samples):
        x, y = rng.random(), rng.random()
        if x * x + y * y <= 1.0:
            hits += 1
    return 4.0 * hits / samples


def matmul(a: ((0, 0), "f8"), b: ((0, 0), "f8")):
    n: int = a.shape[0]
    m: int = b.shape[1]
    k: int = a.shape[1]
    c: ((0, 0), 'f8') = np.zeros((n, m), 'f8')
    for i in zel.range(n):
        for j in range(m):
            s: float = 0.0
            for t in range(k):
                s += a[i, t] * b[t, j]
            c[i, j] = s
    return c


if __name__ == "__main__":
    print(sieve(50)[-5:], count_primes(10000), monte_carlo(20000))
    a = np.arange(12, dtype='f8').reshape(3, 4)
    b = np.ones((4, 2))
    print(np.asarray(matmul(a, b)).tolist())
""",
    "heat_class_with_parallel_step.py": """\
import zel
import numpy as np


class Heat:
    def __init__(self, n: int):
        self.n = n
        self.u = np.zeros(n, 'f8')
        self.u[n // 2] = 1.0

    def step(self, alpha: float) -> None:
        a: float = alpha
        n: int = self.n
        u: (0, 'f8') = self.u
        new: (0, 'f8') = np.zeros(n, 'f8')
        for i in zel.range(1, n - 1):
            new[i] = u[i] + a * (u[i - 1] - 2.0 * u[i] + u[i + 1])
        self.u = np.asarray(new)

    def total(self) -> float:
        return float(np.sum(self.u))


def run(steps: int = 50) -> Heat:
    h = Heat(101)
    for _ in range(steps):
        h.step(0.25)
    return h


if __name__ == "__main__":
    h = run()
    print(f"{h.total():.12f}", f"{h.u.max():.12f}", h.u.argmax())
    m: ((0, 0), 'f8') = np.zeros((4, 5), 'f8')
    for i in zel.range(4):
        for j in range(5):
            m[i, j] = i - j
    print(np.asarray(m).tolist()[2], float(np.asarray(m).sum()))
    best: float = -1e300
    for i in range(4):
        for j in range(5):
            if m[i, j] > best:
                best = m[i, j]
    print(best)
""",
    "defaults_and_closures.py": """\
import zel
import math
from dataclasses import dataclass, field
from typing import Optional

π: float = math.pi
größe: int = 3

@dataclass
class Grid:
    nx: int
    ny: int
    data: list = field(default_factory=list)

    def area(self) -> int:
        return self.nx * self.ny

def make_scaler(k: float):
    def scale(x: float) -> float:
        return k * x
    return scale

def clamp(x: float, lo: float = 0.0, hi: float = 1.0) -> float:
    return max(lo, min(hi, x))

def mean(xs: list[float]) -> Optional[float]:
    if not xs:
        return None
    return sum(xs) / len(xs)

def gen(n: int):
    for i in range(n):
        yield i * i

total: int = 0
for v in gen(5):
    total += v
g = Grid(3, 4)
print(g, g.area(), π * größe)
print(make_scaler(2.0)(3.5), clamp(1.5), clamp(-1.0), clamp(0.25, hi=0.2))
print(mean([]), mean([1.0, 2.0]), total)
squares = list(map(lambda t: t ** 2, range(4)))
print(squares, sorted({3, 1, 2}), f"{π:.3f}")
""",
    "primes_and_helpers.py": """\
import zel
import functools
import math
from typing import List


def is_prime(n: int) -> bool:
    if n < 2:
        return False
    for d in range(2, int(math.isqrt(n)) + 1):
        if n % d == 0:
            return False
    return True


def gcd(a: int, b: int) -> int:
    while b:
        a, b = b, a % b
    return a


@functools.lru_cache(maxsize=None)
def fib(n: int) -> int:
    return n if n < 2 else fib(n - 1) + fib(n - 2)


def primes_below(n: int) -> List[int]:
    return [k for k in range(n) if is_prime(k)]


def collatz_steps(n: int) -> int:
    steps: int = 0
    while n != 1:
        n = n // 2 if n % 2 == 0 else 3 * n + 1
        steps += 1
    return steps


def main() -> None:
    def describe(k: int) -> str:
        return f"{k}: prime={is_prime(k)}"

    print(primes_below(30), gcd(84, 36), fib(30), fib.cache_info().hits > 0)
    print(max(range(1, 30), key=collatz_steps), collatz_steps(27))
    print([describe(k) for k in (7, 9)])


if __name__ == "__main__":
    main()
""",
    "bank_accounts.py": """\
import zel
from dataclasses import dataclass, field


class InsufficientFunds(Exception):
    pass


@dataclass
class Account:
    owner: str
    balance: float = 0.0
    history: list = field(default_factory=list)

    def deposit(self, amount: float) -> float:
        if amount <= 0:
            raise ValueError("deposit must be positive")
        self.balance += amount
        self.history.append(("deposit", amount))
        return self.balance

    def withdraw(self, amount: float) -> float:
        if amount > self.balance:
            raise InsufficientFunds(f"{self.owner}: {amount} > {self.balance}")
        self.balance -= amount
        self.history.append(("withdraw", amount))
        return self.balance

    @staticmethod
    def interest(balance: float, rate: float) -> float:
        return balance * rate


class Bank:
    fee: float = 1.5
    count: int = 0

    def __init__(self) -> None:
        self.accounts: dict = {}

    def open(self, owner: str) -> Account:
        Bank.count += 1
        self.accounts[owner] = Account(owner)
        return self.accounts[owner]


def compound(amount: float, rate: float, years: int) -> float:
    total: float = amount
    for _ in range(years):
        total *= 1.0 + rate
    return total


if __name__ == "__main__":
    bank = Bank()
    alice = bank.open("alice")
    alice.deposit(100.0)
    alice.withdraw(30.0)
    try:
        alice.withdraw(500.0)
    except InsufficientFunds as e:
        print("refused:", e)
    try:
        alice.deposit(-1.0)
    except ValueError as e:
        print("refused:", e)
    print(alice, Bank.count, Bank.fee, Account.interest(alice.balance, 0.05))
    print(round(compound(1000.0, 0.05, 10), 6), Bank.__annotations__)
""",
    "grid_stats.py": """\
import zel
import math
import numpy as np

WIDTH: int = 8


def mean(values: (0, 'f8'), n: int) -> float:
    s: float = 0.0
    for i in range(n):
        s += values[i]
    return s / n


def std(values: (0, 'f8'), n: int) -> float:
    m = mean(values, n)
    return math.sqrt(sum((v - m) ** 2 for v in values) / n)


def clipped(x: float, lo: float, hi: float) -> float:
    try:
        if lo > hi:
            raise ValueError("empty range")
        return min(max(x, lo), hi)
    except ValueError:
        return math.nan


if __name__ == "__main__":
    n: int = 1000
    a: (0, 'f8') = np.zeros(n, 'f8')
    for i in zel.range(n):
        a[i] = (i % WIDTH) * 0.25
    print(mean(a, n), round(std(a, n), 12), clipped(5.0, 0.0, 1.0), clipped(0.5, 1.0, 0.0))
    rows = {k: float(mean(a[k::WIDTH].copy(), n // WIDTH)) for k in range(3)}
    print(rows, sorted([3.5, -1.0, 2.0], key=abs))
""",
    "projectiles.py": """\
import zel
import math
import dataclasses
from typing import List, Tuple

GRAVITY = 9.81
STEPS: int = 50


@dataclasses.dataclass
class Projectile:
    speed: float
    angle: float
    name: str = "shell"

    def range_m(self) -> float:
        rad = math.radians(self.angle)
        return self.speed ** 2 * math.sin(2 * rad) / GRAVITY

    def describe(self) -> str:
        return f"{self.name}: {self.range_m():.2f} m"


def flight_time(speed: float, angle: float) -> float:
    return 2.0 * speed * math.sin(math.radians(angle)) / GRAVITY


def heights(speed: float, angle: float, n: int) -> List[float]:
    t_end = flight_time(speed, angle)
    vy = speed * math.sin(math.radians(angle))
    return [round(vy * (t_end * k / n) - 0.5 * GRAVITY * (t_end * k / n) ** 2, 3)
            for k in range(n + 1)]


def peak(values: List[float]) -> Tuple[int, float]:
    best_i, best = 0, values[0]
    for i, v in enumerate(values):
        if v > best:
            best_i, best = i, v
    return best_i, best


def integer_sqrt(n: int) -> int:
    lo: int = 0
    hi: int = n
    while lo < hi:
        mid: int = (lo + hi + 1) // 2
        if mid * mid <= n:
            lo = mid
        else:
            hi = mid - 1
    return lo


def safe_ratio(a: float, b: float) -> float:
    try:
        return a / b
    except ZeroDivisionError:
        return float("inf")


if __name__ == "__main__":
    shots = [Projectile(20.0, 45.0), Projectile(30.0, 30.0, "ball")]
    for s in shots:
        print(s.describe(), round(flight_time(s.speed, s.angle), 4))
    hs = heights(20.0, 45.0, 8)
    print(hs, peak(hs))
    print([integer_sqrt(k) for k in (0, 1, 15, 16, 10 ** 9)])
    print(safe_ratio(1.0, 0.0), safe_ratio(3.0, 2.0))
    for name, sq in zip(["a", "b"], map(integer_sqrt, [81, 99])):
        print(f"{name}={sq}")
    print(dataclasses.asdict(shots[1]), STEPS)
""",
    "smoothing_simulation.py": """\
import zel
import numpy as np
import math

N: int = 1000
DT = 0.01


def kinetic(v: (0, 'f8'), m: float, n: int) -> float:
    s: float = 0.0
    for i in range(n):
        s += 0.5 * m * v[i] * v[i]
    return s


def smooth(src: (0, 'f8'), dst: (0, 'f8'), n: int):
    for i in zel.range(1, n - 1):
        dst[i] = (src[i - 1] + 2.0 * src[i] + src[i + 1]) * 0.25
    dst[0] = src[0]
    dst[n - 1] = src[n - 1]
    return n


def norm(v: (0, 'f8'), n: int) -> float:
    return math.sqrt(sum(v[i] * v[i] for i in range(n)))


class Simulation:
    def __init__(self, n: int) -> None:
        self.n = n
        self.x = np.zeros(n, 'f8')
        self.v = np.zeros(n, 'f8')

    def step(self, k: int) -> None:
        for i in range(self.n):
            self.v[i] = math.cos(0.01 * i + k * DT)
        self.x += self.v * DT

    def report(self) -> str:
        return f"x={self.x.sum():.6f} v={self.v.mean():.6f}"


def main() -> None:
    n: int = N
    a: (0, 'f8') = np.zeros(n, 'f8')
    b: (0, 'f8') = np.zeros(n, 'f8')
    for i in zel.range(n):
        a[i] = (i % 7) * 0.5
    smooth(a, b, n)
    total: float = 0.0
    for i in zel.range(n):
        total += b[i]
    print(round(total, 6), round(kinetic(b, 2.0, n), 6), round(norm(b, n), 6))
    sim = Simulation(16)
    for k in range(3):
        sim.step(k)
    print(sim.report())
    print(b[:4].tolist(), b[n - 1], a.max())


if __name__ == "__main__":
    main()
""",
    "typed_math_helpers.py": """\
import zel
import math
import numpy as np

TAU = 2 * math.pi
SCALE: float = 0.5
WIDTH: int = 4


def area(r: float) -> float:
    return math.pi * r * r


def hypot3(x: float, y: float, z: float) -> float:
    return math.sqrt(x * x + y * y + z * z)


def clamp(x: float, lo: float, hi: float) -> float:
    if x < lo:
        return lo
    if x > hi:
        return hi
    return x


def poly(x: float) -> float:
    return ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0


def outer(n: int) -> int:
    def inner(k: int) -> int:
        return k * k + 1

    return sum(inner(k) for k in range(n))


def grid(rows: int, cols: int) -> float:
    m: ((0, 0), 'f8') = np.zeros((rows, cols), 'f8')
    for r in range(rows):
        for c in range(cols):
            m[r, c] = poly(r * SCALE) - c
    return float(np.asarray(m).sum())


def histogram(values: list, bins: int) -> list:
    counts = [0] * bins
    lo, hi = min(values), max(values)
    for v in values:
        k = min(int((v - lo) / (hi - lo) * bins), bins - 1)
        counts[k] += 1
    return counts


if __name__ == "__main__":
    n: int = 12
    xs: (0, 'f8') = np.zeros(n, 'f8')
    ys: (0, 'f8') = np.zeros(n, 'f8')
    for i in zel.range(n):
        xs[i] = i * SCALE
        ys[i] = clamp(poly(xs[i]), 1.0, 20.0)
    print(xs.tolist())
    print([round(y, 6) for y in ys.tolist()])
    print(round(area(2.0), 9), hypot3(1.0, 2.0, 2.0), round(TAU, 6))
    print(outer(5), grid(3, WIDTH))
    data = [math.sin(k / 3) for k in range(40)]
    print(histogram(data, 5))
    for idx, (a, b) in enumerate(zip(xs.tolist()[:3], ys.tolist()[:3])):
        print(f"{idx}: {a:.2f} -> {b:.4f}")
    labels = {name: round(f(1.5), 4) for name, f in [("area", area), ("poly", poly)]}
    print(labels, sorted([3.0, -2.0, 1.0], key=abs), area.__name__)
""",
}


@pytest.mark.parametrize("name", sorted(SCRIPTS))
def test_script_prints_what_cpython_prints(runner, name):
    runner.assert_prints_as_cpython(name, SCRIPTS[name])
