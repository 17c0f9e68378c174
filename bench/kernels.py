"""Kernels: zel's parallel and projection loops against C++, CPython, numpy and Numba.

    python bench/kernels.py [--runs N] [--quick] [--dir DIR]

Five kernels, each placed in a function and at module level:

- map: `x = i * 1e-7`, `a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0` over 20 million doubles;
- reduction: the sum of `a[i] * a[i]` over the same array;
- projection: the recurrence `x[t + 1] = 0.5 * x[t] + y[t]` along the rows of 2-D arrays
  (2000 rows of 10000 steps), written as a projection loop;
- matmul: the product of two 320 x 320 matrices as a sequential loop nest over plain `range`
  with annotated indices, `t += a[i, k] * b[k, j]` summed in order;
- compute: 32 dependent steps of `x = x * x * 0.5 + 0.25` for each of half a million elements,
  a parallel loop that is bound by arithmetic, not memory, and so shows thread scaling (the
  map, once vectorised, is bound by memory bandwidth).

The zel scripts are generated here, written to a temporary directory (or DIR, kept) and built
once (the first run builds, at most one build per core at a time). Every process of a version
then calls its kernel 6 times on the same arrays, timing each call itself (time.perf_counter
or omp_get_wtime around the loop alone) and printing the time and a check sum. The arrays are
allocated and written before the clock starts, in every version, so no column pays for
first-touch page faults. The first call of a process pays for what a process does once (the
OpenMP thread team, the placement of its threads, cold caches and branch predictors); the later
calls are the settled figures. A module-level parallel map reads:

    import zel
    import time
    import numpy as np

    n: int = 20000000
    a = np.zeros(n, 'f8')
    np.copyto(a, 0.0)
    i: int
    start: float
    elapsed: float
    start = time.perf_counter()
    for i in zel.range(n):
        x: float = i * 1e-7
        a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0
    elapsed = time.perf_counter() - start
    print('kernel-time', elapsed, np.sum(a))

with the four timed statements written out 6 times, so that each call is a module-level loop
as in a script that runs it once; in a function the same loop is the body of

    def map_kernel(a: (0, 'f8'), n: int):
        i: int
        for i in zel.range(n):
            ...

called as `map_kernel(a, n)` between the two clock readings, in a loop of 6 calls. The function has typed parameters
and no return type: a function typed throughout becomes a `nogil` C function, and a parallel
loop inside one is refused as a nested parallel block. The index is annotated in both
placements: an unannotated `range` index stays a Python object, even in a function with typed
parameters. The reduction adds `s: float = 0.0` and `s += a[i] * a[i]` (returned from the
function); the projection loops `for r in range(rows):` around
`for t in zel.projection(r, n): x[t + 1] = 0.5 * x[t] + y[t]`, whose indices zel completes
with the row: `x[r, t + 1]`. Column 0 of x, one column wider than y, holds the state before the
first step. Written as `x[t] = 0.5 * x[t - 1] + y[t]`, the first step would read `x[r, -1]`
(a projection loop starts at 0), and the guard it needs (`if t > 0`) makes GCC reload
`x[t - 1]` from memory on every step instead of keeping it in a register, in hand-written C++
as much as in zel's, which more than doubles the time of this latency-bound loop.

Columns, in milliseconds; each cell reads "first / min / median": the median of the processes'
first calls, and the fastest and the median of all their later calls:

- zel: the script with `zel.range` (or the projection loop) on all cores; in the one-thread rows
  the same build with OMP_NUM_THREADS=1;
- range: the same script with `range` in place of `zel.range` (one-thread rows only);
- C++: bench/kernels.cpp, built with `g++ -O3 -fopenmp`; OpenMP for the map, the reduction and
  the compute kernel, sequential loops for the projection and the matrix product;
- C++ native: the same built with `-O3 -march=native -ffp-contract=off -fopenmp`, the practical
  limit for results bit for bit those of CPython, and the reference of the check sums;
- CPython: the `range` script without zel (the projection with its indices written out), on a
  40th of the size, the time scaled linearly; called once in a process, so one figure, the
  median of the processes;
- numpy: the vectorised form (`a[:] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0` on
  `x = np.arange(n) * 1e-7`, `np.sum(a * a)`, the projection column by column);
- Numba: `@njit(parallel=True)` with `prange` for the parallel kernels, plain `@njit` for the
  sequential ones, compiled for its arguments' types before the first call (without running
  it), so that compilation is excluded and the first call is the kernel's first run; left out
  when Numba cannot be imported (`pip install .[bench]` installs it).

Every version runs in a process of its own, numpy's and Numba's too (this script with
`--worker`), one version after another, so that no version's threads run beside another's; a
round runs every version once, in the same order (A B C A B C ...), so that a drift of the
machine touches every version alike, and `--runs` sets the rounds. C++, numpy and Numba have
no placement: their figures stand in both rows of a kernel. A zel script that fails to build
or to run puts "failed" in its cell and its first error line at the end of its row; the rest
of the table is still measured. A result whose check sum differs from the C++ native one is
marked with "!". Nothing is asserted about times; the goals at the end, read from the settled
figures (the medians of the later calls), with the same ratio of the first calls beside them,
say which ratios reach their figures: every zel function row within 10% of C++ native and not
slower than Numba (the one-thread map within 10% of Numba), every module-level row within 10%
of its function row, a `zel.range` loop on one thread within 10% of the plain loop, the compute
kernel on two threads at least 1.6x faster than on one.
Most of the benchmark's time goes to the builds: about a minute on two idle cores.
"""
import argparse
import dataclasses
import math
import os
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

CPP_SOURCE = pathlib.Path(__file__).resolve().parent / "kernels.cpp"
CPP_FLAGS = ["-O3", "-fopenmp"]
# The practical limit: vectorised for this processor, still without fused multiply-adds.
CPP_NATIVE_FLAGS = ["-O3", "-march=native", "-ffp-contract=off", "-fopenmp"]
CALLS = 6  # kernel calls in each process: the first, then the settled ones
SIZE = 20_000_000
QUICK_SIZE = 2_000_000
CPYTHON_SHARE = 40
TOLERANCE = 1e-9
TIMEOUT = 900  # seconds for one run of a version, its build included
GOAL_OF_CPP = 1.10
GOAL_OF_NUMBA_MAP = 1.10  # the one-thread map, against Numba
GOAL_OF_FUNCTION = 1.10  # a module-level row, against its function row
GOAL_OF_RANGE = 1.10
GOAL_SPEEDUP = 1.6
PLACEMENTS = ["function", "module"]


@dataclasses.dataclass
class Kernel:
    name: str
    parallel: bool  # written with zel.range, so it also has a one-thread row
    sizes: str  # the size assignments, formatted with the fields of `sizes_of`
    setup: str  # module-level statements that allocate and write the inputs
    params: str
    args: str
    declarations: str  # the kernel's typed names, ahead of its loop
    loop: str  # "{range}" stands for zel.range or range
    result: str  # the check sum the script prints
    returns: str = ""  # the function's return value, bound to this name by the call
    reset: str = ""  # what a module-level loop sets again before each call
    cpython_loop: str = ""  # the loop as plain Python, when zel's form is not Python
    steps: int = 0  # the length of a row of a 2-D kernel, whose rows make up the size
    iterations: int = 0  # the steps per element of a compute-bound kernel, an element a 40th
    side: int = 0  # the side of a square matrix kernel at the full size

    def sizes_of(self, size):
        if self.steps:
            return {"rows": max(1, size // self.steps), "n": self.steps}
        if self.iterations:
            return {"n": max(1, size // 40), "steps": self.iterations}
        if self.side:
            return {"n": max(8, round(self.side * (size / SIZE) ** (1 / 3)))}
        return {"n": size}

    def work(self, size):
        """The kernel's work at `size`, in proportion: what a smaller run's time scales with."""
        sizes = self.sizes_of(size)
        return sizes["n"] ** 3 if self.side else math.prod(sizes.values())

    def script(self, placement, size, kind, calls):
        """The script of one kind: "zel" (its loops as zel's), "range" (`zel.range` written
        as `range`) or "cpython" (plain Python, without zel), which runs its kernel `calls`
        times on the same arrays, timing and printing each call."""
        if kind == "cpython" and self.cpython_loop:
            loop = self.cpython_loop
        else:
            loop = self.loop.format(range="zel.range" if kind == "zel" else "range")
        lines = [] if kind == "cpython" else ["import zel"]
        lines += ["import time", "import numpy as np", ""]
        sizes = self.sizes.format(**self.sizes_of(size))
        timing = ["start = time.perf_counter()", "{timed}",
                  "elapsed = time.perf_counter() - start",
                  f"print('kernel-time', elapsed, {self.result})"]
        if placement == "function":
            # The calls are one loop around the call of the kernel's function.
            name = f"{self.name}_kernel"
            body = f"{self.declarations}\n{loop}"
            if self.returns:
                body += f"\nreturn {self.returns}"
            lines += ["", f"def {name}({self.params}):", textwrap.indent(body, "    "), "", ""]
            lines += [sizes, self.setup, "start: float", "elapsed: float",
                      f"for call in range({calls}):"]
            timed = (f"{self.returns} = " if self.returns else "") + f"{name}({self.args})"
            lines += ["    " + line.format(timed=timed) for line in timing]
        else:
            # Each call is the kernel's loop written out again: a module-level statement, as
            # a script that runs its kernel once has it, not the body of an outer loop.
            lines += [sizes, self.setup, self.declarations, "start: float", "elapsed: float"]
            for _ in range(calls):
                lines += [self.reset] if self.reset else []
                lines += [line.format(timed=loop) for line in timing]
        return "\n".join(lines) + "\n"


KERNELS = [
    Kernel(
        name="map",
        parallel=True,
        sizes="n: int = {n}",
        setup="a = np.zeros(n, 'f8')\nnp.copyto(a, 0.0)",
        params="a: (0, 'f8'), n: int",
        args="a, n",
        declarations="i: int",
        loop="for i in {range}(n):\n"
        "    x: float = i * 1e-7\n"
        "    a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0",
        result="np.sum(a)",
    ),
    Kernel(
        name="reduction",
        parallel=True,
        sizes="n: int = {n}",
        setup="a = np.zeros(n, 'f8')\nnp.copyto(a, np.arange(n) * 1e-7)",
        params="a: (0, 'f8'), n: int",
        args="a, n",
        declarations="i: int\ns: float = 0.0",
        loop="for i in {range}(n):\n    s += a[i] * a[i]",
        result="s",
        returns="s",
        reset="s = 0.0",
    ),
    Kernel(
        name="projection",
        parallel=False,
        sizes="rows: int = {rows}\nn: int = {n}",
        setup="x = np.zeros((rows, n + 1), 'f8')\n"
        "np.copyto(x, 0.0)\n"
        "y = np.zeros((rows, n), 'f8')\n"
        "np.copyto(y, np.add.outer(np.arange(rows) * 1e-3, np.arange(n) * 1e-4))",
        params="x: ((0, 0), 'f8'), y: ((0, 0), 'f8'), rows: int, n: int",
        args="x, y, rows, n",
        declarations="r: int\nt: int",
        loop="for r in range(rows):\n"
        "    for t in zel.projection(r, n):\n"
        "        x[t + 1] = 0.5 * x[t] + y[t]",
        result="np.sum(x)",
        cpython_loop="for r in range(rows):\n"
        "    for t in range(n):\n"
        "        x[r, t + 1] = 0.5 * x[r, t] + y[r, t]",
        steps=10_000,
    ),
    Kernel(
        name="matmul",
        parallel=False,
        sizes="n: int = {n}",
        setup="a = np.zeros((n, n), 'f8')\n"
        "np.copyto(a, np.add.outer(np.arange(n) * 1e-3, np.arange(n) * 2e-3))\n"
        "b = np.zeros((n, n), 'f8')\n"
        "np.copyto(b, np.add.outer(np.arange(n) * 3e-3, np.arange(n) * -1e-3))\n"
        "c = np.zeros((n, n), 'f8')\n"
        "np.copyto(c, 0.0)",
        params="a: ((0, 0), 'f8'), b: ((0, 0), 'f8'), c: ((0, 0), 'f8'), n: int",
        args="a, b, c, n",
        declarations="i: int\nj: int\nk: int\nt: float",
        loop="for i in range(n):\n"
        "    for j in range(n):\n"
        "        t = 0.0\n"
        "        for k in range(n):\n"
        "            t += a[i, k] * b[k, j]\n"
        "        c[i, j] = t",
        result="np.sum(c)",
        side=320,
    ),
    Kernel(
        name="compute",
        parallel=True,
        sizes="n: int = {n}\nsteps: int = {steps}",
        setup="a = np.zeros(n, 'f8')\nnp.copyto(a, 0.0)",
        params="a: (0, 'f8'), n: int, steps: int",
        args="a, n, steps",
        declarations="i: int\nk: int",
        loop="for i in {range}(n):\n"
        "    x: float = i * 1e-7\n"
        "    for k in range(steps):\n"
        "        x = x * x * 0.5 + 0.25\n"
        "    a[i] = x",
        result="np.sum(a)",
        iterations=32,
    ),
]


class Failed(Exception):
    """A version that could not be built or run; its text is the first error line."""

    def __init__(self, output):
        super().__init__(first_error_line(output))
        self.output = output


def first_error_line(output):
    lines = [line.strip() for line in output.splitlines() if line.strip()]
    for line in lines:  # a Cython error: "name.pyx:LINE:COLUMN: message"
        if re.match(r"[^\s:]+:\d+:\d+: ", line):
            return line
    if any(line.startswith("Traceback") for line in lines):
        return lines[-1]
    for line in lines:
        if not line.startswith(("# ", "performance hint:", "warning:")):
            return line
    return "no output"


def run_command(command, cwd, threads):
    """[(seconds, check sum), ...] from the "kernel-time SECONDS CHECK" lines that a version
    prints, one for each call of its kernel."""
    env = dict(os.environ, OMP_NUM_THREADS=str(threads), NUMBA_NUM_THREADS=str(threads))
    try:
        result = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True,
                                timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failed(f"no end after {TIMEOUT} s") from None
    output = result.stdout + result.stderr
    calls = []
    if result.returncode == 0:
        for line in result.stdout.splitlines():
            if line.startswith("kernel-time "):
                _, seconds, check = line.split()
                calls.append((float(seconds), float(check)))
    if not calls:
        raise Failed(output)
    return calls


def build_script(path):
    """Runs a zel script for the first time, which builds it; the error text when it fails."""
    try:
        run_command([sys.executable, path.name], path.parent, 1)
    except Failed as error:
        stage = "run" if "# RUN" in error.output.splitlines() else "build"
        return f"{stage} failed: {error}"
    return None


def build_cpp(directory, flags, name):
    """The baseline executable, or None, and the command line or the error text."""
    executable = directory / name
    command = [os.environ.get("CXX", "g++"), *flags, "-o", str(executable), str(CPP_SOURCE)]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        return None, f"build failed: {first_error_line(result.stderr)}"
    return executable, " ".join(command)


# numpy's and Numba's versions run in a process of their own, as every other version does
# (`kernels.py --worker numpy|numba KERNEL SIZE`), on arrays written in advance; each returns
# its result, an array or a sum, whose sum is the check sum. In the harness's process Numba's
# threads would stay and slow down the versions measured after it.


def numpy_map(a):
    x = np.arange(a.shape[0]) * 1e-7
    a[:] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0
    return a


def numpy_reduction(a):
    return np.sum(a * a)


def numpy_projection(x, y):
    for t in range(y.shape[1]):
        x[:, t + 1] = 0.5 * x[:, t] + y[:, t]
    return x


def numpy_matmul(a, b, c):
    return np.matmul(a, b, out=c)


def numpy_compute(a, steps):
    x = np.arange(a.shape[0]) * 1e-7
    for _ in range(steps):
        x = x * x * 0.5 + 0.25
    a[:] = x
    return a


NUMPY_VERSIONS = {"map": numpy_map, "reduction": numpy_reduction,
                  "projection": numpy_projection, "matmul": numpy_matmul,
                  "compute": numpy_compute}


def numba_versions():
    """The Numba kernels by name, compiled on their first call."""
    import numba

    @numba.njit(parallel=True)
    def map_kernel(a):
        for i in numba.prange(a.shape[0]):
            x = i * 1e-7
            a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0
        return a

    @numba.njit(parallel=True)
    def reduction_kernel(a):
        s = 0.0
        for i in numba.prange(a.shape[0]):
            s += a[i] * a[i]
        return s

    @numba.njit
    def projection_kernel(x, y):
        for r in range(y.shape[0]):
            for t in range(y.shape[1]):
                x[r, t + 1] = 0.5 * x[r, t] + y[r, t]
        return x

    @numba.njit
    def matmul_kernel(a, b, c):
        n = a.shape[0]
        for i in range(n):
            for j in range(n):
                t = 0.0
                for k in range(n):
                    t += a[i, k] * b[k, j]
                c[i, j] = t
        return c

    @numba.njit(parallel=True)
    def compute_kernel(a, steps):
        for i in numba.prange(a.shape[0]):
            x = i * 1e-7
            for _ in range(steps):
                x = x * x * 0.5 + 0.25
            a[i] = x
        return a

    return {"map": map_kernel, "reduction": reduction_kernel, "projection": projection_kernel,
            "matmul": matmul_kernel, "compute": compute_kernel}


def inputs(kernel, size):
    """The arrays of the numpy and Numba versions, written as the scripts write theirs."""
    sizes = kernel.sizes_of(size)
    if kernel.name == "projection":
        rows, steps = sizes.values()
        y = np.add.outer(np.arange(rows) * 1e-3, np.arange(steps) * 1e-4)
        x = np.zeros((rows, steps + 1))
        np.copyto(x, 0.0)
        return x, y
    if kernel.name == "reduction":
        return (np.arange(size) * 1e-7,)
    if kernel.name == "matmul":
        n = sizes["n"]
        a = np.add.outer(np.arange(n) * 1e-3, np.arange(n) * 2e-3)
        b = np.add.outer(np.arange(n) * 3e-3, np.arange(n) * -1e-3)
        return a, b, np.zeros((n, n))
    a = np.zeros(sizes["n"])
    np.copyto(a, 0.0)
    return (a, sizes["steps"]) if kernel.name == "compute" else (a,)


def worker(kind, name, size, calls):
    """Times `calls` calls of one version of numpy or Numba, printing a "kernel-time" line for
    each."""
    kernel = next(kernel for kernel in KERNELS if kernel.name == name)
    arrays = inputs(kernel, size)
    if kind == "numba":
        import numba

        function = numba_versions()[name]
        # Compiled for the arguments' types without running, so that the first timed call is
        # the kernel's first run, as it is in the other versions.
        function.compile(tuple(numba.typeof(argument) for argument in arrays))
    else:
        function = NUMPY_VERSIONS[name]
    for _ in range(calls):
        start = time.perf_counter()
        result = function(*arrays)
        seconds = time.perf_counter() - start
        print(f"kernel-time {seconds!r} {float(np.sum(result))!r}", flush=True)


@dataclasses.dataclass
class Cell:
    """One version in the table: its timings, or the reason it has none.

    Each run is a process of the version: its first call goes to `firsts`, the later ones to
    `settled`. A version that calls its kernel once (CPython) has first calls only."""

    measure: object  # () -> [(seconds, check sum), ...], raising Failed
    scale: float = 1.0
    full_size: bool = True  # its check sum is comparable with the C++ one
    error: str = None
    firsts: list = dataclasses.field(default_factory=list)
    settled: list = dataclasses.field(default_factory=list)
    checks: list = dataclasses.field(default_factory=list)

    def run(self):
        if self.error:
            return
        try:
            calls = self.measure()
        except Failed as failure:
            self.error = f"run failed: {failure}"
            return
        times = [seconds * self.scale for seconds, _ in calls]
        self.firsts.append(times[0])
        self.settled += times[1:]
        self.checks += [check for _, check in calls]

    def _ms(self, times, statistic):
        return None if self.error or not times else statistic(times) * 1000

    @property
    def first_ms(self):
        """The median of the first calls."""
        return self._ms(self.firsts, statistics.median)

    @property
    def min_ms(self):
        """The fastest later call."""
        return self._ms(self.settled, min)

    @property
    def ms(self):
        """The settled figure, the median of the later calls; the first calls' median for a
        version called once."""
        return self._ms(self.settled, statistics.median) or self.first_ms


def script_cell(path, threads, scale=1.0, full_size=True, error=None):
    command = [sys.executable, path.name]
    return Cell(lambda: run_command(command, path.parent, threads), scale, full_size, error)


def cpp_cell(executable, kernel, sizes, threads, error):
    command = [str(executable), kernel.name, str(CALLS), *map(str, sizes.values())]
    return Cell(lambda: run_command(command, executable.parent, threads), error=error)


def worker_cell(kind, kernel, size, threads, directory):
    command = [sys.executable, str(pathlib.Path(__file__).resolve()), "--worker", kind,
               kernel.name, str(size), str(CALLS)]
    return Cell(lambda: run_command(command, directory, threads))


def write_scripts(directory, size):
    """Every script, by (kernel, placement, kind), written to `directory`."""
    scripts = {}
    for kernel in KERNELS:
        kinds = ["zel", "range", "cpython"] if kernel.parallel else ["zel", "cpython"]
        for placement in PLACEMENTS:
            for kind in kinds:
                share = size // CPYTHON_SHARE if kind == "cpython" else size
                suffix = "" if kind == "zel" else f"_{kind}"
                path = directory / f"{kernel.name}_{placement}{suffix}.py"
                # CPython runs its kernel once: at its speed a call is long enough to settle.
                calls = 1 if kind == "cpython" else CALLS
                path.write_text(kernel.script(placement, share, kind, calls), encoding="utf-8")
                scripts[kernel.name, placement, kind] = path
    return scripts


def build_scripts(scripts, threads):
    """The build error of every zel script (None when it built), one build per core at a time."""
    paths = [path for (_, _, kind), path in scripts.items() if kind != "cpython"]
    print(f"building {len(paths)} zel scripts ...", flush=True)
    started = time.perf_counter()
    with ThreadPoolExecutor(max_workers=threads) as pool:
        errors = dict(zip(paths, pool.map(build_script, paths)))
    print(f"built in {time.perf_counter() - started:.0f} s", flush=True)
    return errors


def numba_version():
    """Numba's version, asked of a process of its own; None when it cannot be imported."""
    found = subprocess.run([sys.executable, "-c", "import numba; print(numba.__version__)"],
                           capture_output=True, text=True)
    return found.stdout.strip() if found.returncode == 0 else None


def lay_out(scripts, errors, cpp_builds, size, threads, with_numba, directory):
    """The table: rows keyed by (kernel, placement, threads), in each the cells by column.

    A version measured once for both placements is one cell shared by their rows."""
    rows = {}
    for kernel in KERNELS:
        counts = [threads, 1] if kernel.parallel else [1]
        sizes = kernel.sizes_of(size)
        cpp = {(column, count): cpp_cell(executable, kernel, sizes, count, error)
               for column, (executable, error) in cpp_builds.items() for count in counts}
        numba_cells = {count: worker_cell("numba", kernel, size, count, directory)
                       for count in counts} if with_numba else {}
        numpy_cell = worker_cell("numpy", kernel, size, 1, directory)
        scale = kernel.work(size) / kernel.work(size // CPYTHON_SHARE)
        for placement in PLACEMENTS:
            zel = scripts[kernel.name, placement, "zel"]
            cpython = scripts[kernel.name, placement, "cpython"]
            for count in counts:
                row = rows.setdefault((kernel.name, placement, count), {})
                row["zel"] = script_cell(zel, count, error=errors[zel])
                if kernel.parallel and count == 1:
                    plain = scripts[kernel.name, placement, "range"]
                    row["range"] = script_cell(plain, 1, error=errors[plain])
                for column in cpp_builds:
                    row[column] = cpp[column, count]
                if count == counts[0]:
                    row["CPython"] = script_cell(cpython, 1, scale, full_size=False)
                    row["numpy"] = numpy_cell
                if numba_cells:
                    row["Numba"] = numba_cells[count]
    return rows


def measure(rows, runs):
    cells = list({id(cell): cell for row in rows.values() for cell in row.values()}.values())
    for run in range(runs):
        print(f"round {run + 1} of {runs} ...", flush=True)
        # Every version once per round, in the same order (A B C A B C ...), so that a drift of
        # the machine touches them alike.
        for cell in cells:
            cell.run()


COLUMNS = ["zel", "range", "C++", "C++ native", "CPython", "numpy", "Numba"]
REFERENCE = "C++ native"


def fmt(value, digits=1):
    return "-" if value is None else f"{value:.{digits}f}"


def ratio(a, b):
    return a / b if a is not None and b is not None else None


def cell_text(cell):
    """first / fastest later / median of the later calls; one figure for a version called once."""
    if not cell.settled:
        return fmt(cell.first_ms)
    return f"{fmt(cell.first_ms)} / {fmt(cell.min_ms)} / {fmt(cell.ms)}"


def differs(cell, reference):
    if not (cell.full_size and cell.checks and reference.checks):
        return False
    expected = reference.checks[0]
    return any(abs(check - expected) > TOLERANCE * abs(expected) for check in cell.checks)


def print_table(rows):
    header = ["kernel", "placement", "threads", *[f"{c} ms" for c in COLUMNS],
              "zel/native", "zel/Numba", "zel/range", "note"]
    lines = [header]
    marked = False
    for (kernel, placement, threads), row in rows.items():
        values, notes = [], []
        for column in COLUMNS:
            cell = row.get(column)
            if cell is None:
                values.append("")
            elif cell.error:
                values.append("failed")
                notes.append(f"{column}: {cell.error}")
            else:
                mark = "!" if differs(cell, row[REFERENCE]) else ""
                marked = marked or bool(mark)
                values.append(cell_text(cell) + mark)

        def versus(column):
            return fmt(ratio(row["zel"].ms, row[column].ms), 2) if column in row else ""

        lines.append([kernel, placement, str(threads), *values, versus(REFERENCE),
                      versus("Numba"), versus("range"), "; ".join(notes)])
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for number, line in enumerate(lines):
        print("| " + " | ".join(text.ljust(width) for text, width in zip(line, widths)) + " |")
        if number == 0:
            print("|" + "|".join("-" * (width + 2) for width in widths) + "|")
    print("A cell reads: first call / fastest later call / median of the later calls, in ms; "
          "a single figure is a version called once. The ratios are of the later calls' medians.")
    if marked:
        print(f"! the check sum differs from the {REFERENCE} one by more than {TOLERANCE:g} "
              "(relative)")


def print_goals(rows, threads):
    """Each goal is read from the settled figures (the medians of the later calls); the same
    ratio of the first calls stands beside it."""

    def line(label, value, met, unit="", first=None):
        if value is None:
            print(f"  {label:<30} {'-':>6}  no figure")
            return
        beside = f"  (first call {first:.2f}{unit})" if first is not None else ""
        verdict = "met" if met(value) else "missed"
        print(f"  {label:<30} {value:>5.2f}{unit or ' '}  {verdict:<6}{beside}")

    def ratios(a, b):
        """The settled ratio of two cells, and their first calls' ratio."""
        if a is None or b is None:
            return None, None
        return ratio(a.ms, b.ms), ratio(a.first_ms, b.first_ms)

    def zel_cell(key):
        return rows[key]["zel"] if key in rows else None

    print(f"\ngoal: every zel function row within {GOAL_OF_CPP - 1:.0%} of {REFERENCE} "
          f"(zel/native <= {GOAL_OF_CPP:.2f}) and not slower than Numba (zel/Numba <= 1)")
    for (kernel, placement, count), row in rows.items():
        if placement == "function":
            label = f"{kernel} {count} thread" + ("s" if count > 1 else "")
            settled, first = ratios(row["zel"], row[REFERENCE])
            line(label + " / native", settled, lambda v: v <= GOAL_OF_CPP, first=first)
            if "Numba" in row:
                settled, first = ratios(row["zel"], row["Numba"])
                line(label + " / Numba", settled,
                     lambda v: v <= (GOAL_OF_NUMBA_MAP if kernel == "map" and count == 1
                                     else 1.0), first=first)
    print(f"goal: every module-level row within {GOAL_OF_FUNCTION - 1:.0%} of its function row")
    for (kernel, placement, count) in rows:
        if placement == "module":
            settled, first = ratios(zel_cell((kernel, "module", count)),
                                    zel_cell((kernel, "function", count)))
            line(f"{kernel} {count} thread" + ("s" if count > 1 else ""), settled,
                 lambda v: v <= GOAL_OF_FUNCTION, first=first)
    print(f"goal: zel.range on one thread within {GOAL_OF_RANGE - 1:.0%} of plain range "
          f"(zel/range <= {GOAL_OF_RANGE:.2f})")
    for (kernel, placement, _count), row in rows.items():
        if "range" in row:
            settled, first = ratios(row["zel"], row["range"])
            line(f"{kernel} {placement}", settled, lambda v: v <= GOAL_OF_RANGE, first=first)
    print(f"goal: the compute-bound kernel on {threads} threads at least {GOAL_SPEEDUP}x its "
          "one-thread time")
    for placement in PLACEMENTS:
        if threads < 2:
            print(f"  compute {placement}: one usable core, no figure")
            continue
        settled, first = ratios(zel_cell(("compute", placement, 1)),
                                zel_cell(("compute", placement, threads)))
        line(f"compute {placement}", settled, lambda v: v >= GOAL_SPEEDUP, "x", first)


def thread_report(executable, threads, numba):
    parts = [f"os.cpu_count() {os.cpu_count()}", f"usable {threads}"]
    if executable:
        env = dict(os.environ, OMP_NUM_THREADS=str(threads))
        omp = subprocess.run([str(executable), "threads"], env=env, capture_output=True, text=True)
        parts.append(f"OpenMP {omp.stdout.strip()} (OMP_NUM_THREADS={threads})")
    parts.append(f"Numba {numba} (NUMBA_NUM_THREADS as OMP_NUM_THREADS)" if numba
                 else "Numba not installed")
    return "threads: " + ", ".join(parts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3,
                        help=f"rounds: processes of every version, each calling its kernel "
                        f"{CALLS} times")
    parser.add_argument("--quick", action="store_true",
                        help=f"{QUICK_SIZE:,} elements instead of {SIZE:,}, for a smoke run")
    parser.add_argument("--dir", type=pathlib.Path,
                        help="write the scripts and their builds here, and keep them")
    parser.add_argument("--worker", nargs=4, metavar=("KIND", "KERNEL", "SIZE", "CALLS"),
                        help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.worker:
        kind, name, size, calls = options.worker
        worker(kind, name, int(size), int(calls))
        return
    size = QUICK_SIZE if options.quick else SIZE
    threads = len(os.sched_getaffinity(0))
    started = time.perf_counter()

    with tempfile.TemporaryDirectory() as temporary:
        directory = (options.dir or pathlib.Path(temporary)).resolve()
        directory.mkdir(parents=True, exist_ok=True)
        cpp_builds = {}
        for column, flags, name in (("C++", CPP_FLAGS, "kernels"),
                                    ("C++ native", CPP_NATIVE_FLAGS, "kernels_native")):
            executable, note = build_cpp(directory, flags, name)
            print(f"{column}: {note}")
            cpp_builds[column] = (executable, None if executable else note)
        numba = numba_version()
        scripts = write_scripts(directory, size)
        errors = build_scripts(scripts, threads)
        rows = lay_out(scripts, errors, cpp_builds, size, threads, numba is not None, directory)
        measure(rows, options.runs)
        threads_line = thread_report(cpp_builds["C++"][0], threads, numba)

    print(f"\n{size:,} elements, {options.runs} rounds of a process per version, {CALLS} calls "
          f"in each; CPython called once a process, on a {CPYTHON_SHARE}th of the work, scaled")
    print(threads_line)
    print()
    print_table(rows)
    print_goals(rows, threads)
    print(f"\nbenchmark time {time.perf_counter() - started:.0f} s")


if __name__ == "__main__":
    main()
