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
}


@pytest.mark.parametrize("name", sorted(SCRIPTS))
def test_script_prints_what_cpython_prints(runner, name):
    runner.assert_prints_as_cpython(name, SCRIPTS[name])
