"""Kernels: zel's parallel and projection loops against C++, CPython, numpy and Numba.

    python bench/kernels.py [--runs N] [--quick] [--dir DIR]

Three kernels, each placed in a function and at module level:

- map: `x = i * 1e-7`, `a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0` over 20 million doubles;
- reduction: the sum of `a[i] * a[i]` over the same array;
- projection: the recurrence `x[t + 1] = 0.5 * x[t] + y[t]` along the rows of 2-D arrays
  (2000 rows of 10000 steps), written as a projection loop.

The zel scripts are generated here, written to a temporary directory (or DIR, kept) and built
once (the first run builds, at most one build per core at a time); every later run times its
kernel itself with time.perf_counter around the loop and prints the time and a check sum. The
arrays are allocated and written before the clock starts, in every version, so no column pays
for first-touch page faults. A module-level parallel map reads:

    import zel
    import time
    import numpy as np

    n: int = 20000000
    a = np.zeros(n, 'f8')
    np.copyto(a, 0.0)
    i: int
    start: float = time.perf_counter()
    for i in zel.range(n):
        x: float = i * 1e-7
        a[i] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0
    elapsed: float = time.perf_counter() - start
    print('kernel-time', elapsed, np.sum(a))

and in a function the same loop is the body of

    def map_kernel(a: (0, 'f8'), n: int):
        i: int
        for i in zel.range(n):
            ...

called as `map_kernel(a, n)` between the two clock readings. The function has typed parameters
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

Columns, each a median over the runs, in milliseconds:

- zel: the script with `zel.range` (or the projection loop) on all cores; in the one-thread rows
  the same build with OMP_NUM_THREADS=1;
- range: the same script with `range` in place of `zel.range` (one-thread rows only);
- C++: bench/kernels.cpp, built with `g++ -O3 -fopenmp`, the switches zel gives its own builds
  (which also get Python's own CFLAGS, -fwrapv among them); OpenMP for the map and the
  reduction, a sequential loop for the projection;
- CPython: the `range` script without zel (the projection with its indices written out), on a
  40th of the size, the time scaled linearly;
- numpy: the vectorised form (`a[:] = ((x * 0.3 + 0.2) * x + 0.1) * x + 1.0` on
  `x = np.arange(n) * 1e-7`, `np.sum(a * a)`, the projection column by column);
- Numba: `@njit(parallel=True)` with `prange` for the map and the reduction, plain `@njit` for
  the sequential projection, warmed up before timing so compilation is excluded; left out when
  Numba cannot be imported.

C++, numpy and Numba have no placement: their figures stand in both rows of a kernel. A zel
script that fails to build or to run puts "failed" in its cell and its first error line at the
end of its row; the rest of the table is still measured. A result whose check sum differs from
the C++ one is marked with "!". Nothing is asserted about times; the goals at the end say which
ratios reach their figures: zel within 10% of C++ on all cores, a `zel.range` loop on one thread
within 10% of the plain loop, the parallel map on all cores at least 1.4x faster than on one.
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

try:
    import numba
except ImportError:
    numba = None

CPP_SOURCE = pathlib.Path(__file__).resolve().parent / "kernels.cpp"
CPP_FLAGS = ["-O3", "-fopenmp"]
SIZE = 20_000_000
QUICK_SIZE = 2_000_000
CPYTHON_SHARE = 40
TOLERANCE = 1e-9
TIMEOUT = 900  # seconds for one run of a version, its build included
GOAL_OF_CPP = 1.10
GOAL_OF_RANGE = 1.10
GOAL_SPEEDUP = 1.4
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
    cpython_loop: str = ""  # the loop as plain Python, when zel's form is not Python
    steps: int = 0  # the length of a row of a 2-D kernel, whose rows make up the size

    def sizes_of(self, size):
        if self.steps:
            return {"rows": max(1, size // self.steps), "n": self.steps}
        return {"n": size}

    def script(self, placement, size, kind):
        """The script of one kind: "zel" (its loops as zel's), "range" (`zel.range` written
        as `range`) or "cpython" (plain Python, without zel)."""
        if kind == "cpython" and self.cpython_loop:
            loop = self.cpython_loop
        else:
            loop = self.loop.format(range="zel.range" if kind == "zel" else "range")
        lines = [] if kind == "cpython" else ["import zel"]
        lines += ["import time", "import numpy as np", ""]
        sizes = self.sizes.format(**self.sizes_of(size))
        if placement == "function":
            name = f"{self.name}_kernel"
            body = f"{self.declarations}\n{loop}"
            if self.returns:
                body += f"\nreturn {self.returns}"
            lines += ["", f"def {name}({self.params}):", textwrap.indent(body, "    "), "", ""]
            lines += [sizes, self.setup]
            timed = (f"{self.returns} = " if self.returns else "") + f"{name}({self.args})"
        else:
            lines += [sizes, self.setup, self.declarations]
            timed = loop
        lines += [
            "start: float = time.perf_counter()",
            timed,
            "elapsed: float = time.perf_counter() - start",
            f"print('kernel-time', elapsed, {self.result})",
        ]
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
    """(seconds, check sum) from the "kernel-time SECONDS CHECK" line that a version prints."""
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    try:
        result = subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True,
                                timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failed(f"no end after {TIMEOUT} s") from None
    output = result.stdout + result.stderr
    if result.returncode == 0:
        for line in result.stdout.splitlines():
            if line.startswith("kernel-time "):
                _, seconds, check = line.split()
                return float(seconds), float(check)
    raise Failed(output)


def build_script(path):
    """Runs a zel script for the first time, which builds it; the error text when it fails."""
    try:
        run_command([sys.executable, path.name], path.parent, 1)
    except Failed as error:
        stage = "run" if "# RUN" in error.output.splitlines() else "build"
        return f"{stage} failed: {error}"
    return None


def build_cpp(directory):
    """The baseline executable, or None, and the command line or the error text."""
    executable = directory / "kernels"
    command = [os.environ.get("CXX", "g++"), *CPP_FLAGS, "-o", str(executable), str(CPP_SOURCE)]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        return None, f"build failed: {first_error_line(result.stderr)}"
    return executable, " ".join(command)


# numpy's and Numba's versions run in this process on arrays written in advance; each returns
# its result, an array or a sum, whose sum is the check sum.


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


NUMPY_VERSIONS = {"map": numpy_map, "reduction": numpy_reduction, "projection": numpy_projection}


def numba_versions():
    """The Numba kernels by name, compiled on their first call."""

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

    return {"map": map_kernel, "reduction": reduction_kernel, "projection": projection_kernel}


def inputs(kernel, size):
    """The arrays of the in-process versions, written as the scripts write theirs."""
    if kernel.name == "projection":
        rows, steps = kernel.sizes_of(size).values()
        y = np.add.outer(np.arange(rows) * 1e-3, np.arange(steps) * 1e-4)
        x = np.zeros((rows, steps + 1))
        np.copyto(x, 0.0)
        return x, y
    if kernel.name == "reduction":
        return (np.arange(size) * 1e-7,)
    a = np.zeros(size)
    np.copyto(a, 0.0)
    return (a,)


def in_process(function, arrays, numba_threads=None):
    def measure():
        if numba_threads:
            numba.set_num_threads(min(numba_threads, numba.config.NUMBA_NUM_THREADS))
        start = time.perf_counter()
        result = function(*arrays)
        seconds = time.perf_counter() - start
        return seconds, float(np.sum(result))

    return measure


@dataclasses.dataclass
class Cell:
    """One version in the table: its timings, or the reason it has none."""

    measure: object  # () -> (seconds, check sum), raising Failed
    scale: float = 1.0
    full_size: bool = True  # its check sum is comparable with the C++ one
    error: str = None
    times: list = dataclasses.field(default_factory=list)
    checks: list = dataclasses.field(default_factory=list)

    def run(self):
        if self.error:
            return
        try:
            seconds, check = self.measure()
        except Failed as failure:
            self.error = f"run failed: {failure}"
            return
        self.times.append(seconds * self.scale)
        self.checks.append(check)

    @property
    def ms(self):
        return None if self.error or not self.times else statistics.median(self.times) * 1000


def script_cell(path, threads, scale=1.0, full_size=True, error=None):
    command = [sys.executable, path.name]
    return Cell(lambda: run_command(command, path.parent, threads), scale, full_size, error)


def cpp_cell(executable, kernel, sizes, threads, error):
    command = [str(executable), kernel.name, *map(str, sizes.values())]
    return Cell(lambda: run_command(command, executable.parent, threads), error=error)


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
                path.write_text(kernel.script(placement, share, kind), encoding="utf-8")
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


def lay_out(scripts, errors, executable, cpp_error, size, threads):
    """The table: rows keyed by (kernel, placement, threads), in each the cells by column.

    A version measured once for both placements is one cell shared by their rows."""
    numba_kernels = numba_versions() if numba is not None else {}
    rows = {}
    for kernel in KERNELS:
        counts = [threads, 1] if kernel.parallel else [1]
        sizes = kernel.sizes_of(size)
        arrays = inputs(kernel, size)
        cpp = {count: cpp_cell(executable, kernel, sizes, count, cpp_error) for count in counts}
        numba_cells = {}
        if numba_kernels:
            version = numba_kernels[kernel.name]
            version(*arrays)  # compiles it, outside every timing
            numba_cells = {count: Cell(in_process(version, arrays, count)) for count in counts}
        numpy_cell = Cell(in_process(NUMPY_VERSIONS[kernel.name], arrays))
        small = kernel.sizes_of(size // CPYTHON_SHARE)
        scale = math.prod(sizes.values()) / math.prod(small.values())
        for placement in PLACEMENTS:
            zel = scripts[kernel.name, placement, "zel"]
            cpython = scripts[kernel.name, placement, "cpython"]
            row = rows.setdefault((kernel.name, placement, counts[0]), {})
            row["zel"] = script_cell(zel, counts[0], error=errors[zel])
            row["C++"] = cpp[counts[0]]
            row["CPython"] = script_cell(cpython, 1, scale, full_size=False)
            row["numpy"] = numpy_cell
            if numba_cells:
                row["Numba"] = numba_cells[counts[0]]
            if kernel.parallel:
                plain = scripts[kernel.name, placement, "range"]
                row = rows.setdefault((kernel.name, placement, 1), {})
                row["zel"] = script_cell(zel, 1, error=errors[zel])
                row["range"] = script_cell(plain, 1, error=errors[plain])
                row["C++"] = cpp[1]
                if numba_cells:
                    row["Numba"] = numba_cells[1]
    return rows


def measure(rows, runs):
    cells = list({id(cell): cell for row in rows.values() for cell in row.values()}.values())
    for run in range(runs):
        print(f"run {run + 1} of {runs} ...", flush=True)
        for cell in cells:  # every version once per run, so drift in the machine touches all alike
            cell.run()


COLUMNS = ["zel", "range", "C++", "CPython", "numpy", "Numba"]


def fmt(value, digits=1):
    return "-" if value is None else f"{value:.{digits}f}"


def ratio(a, b):
    return a / b if a is not None and b is not None else None


def differs(cell, reference):
    if not (cell.full_size and cell.checks and reference.checks):
        return False
    expected = reference.checks[0]
    return any(abs(check - expected) > TOLERANCE * abs(expected) for check in cell.checks)


def print_table(rows):
    header = ["kernel", "placement", "threads", *[f"{c} ms" for c in COLUMNS], "zel/C++",
              "zel/range", "note"]
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
                mark = "!" if differs(cell, row["C++"]) else ""
                marked = marked or bool(mark)
                values.append(fmt(cell.ms) + mark)
        plain = fmt(ratio(row["zel"].ms, row["range"].ms), 2) if "range" in row else ""
        lines.append([kernel, placement, str(threads), *values,
                      fmt(ratio(row["zel"].ms, row["C++"].ms), 2), plain, "; ".join(notes)])
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    for number, line in enumerate(lines):
        print("| " + " | ".join(text.ljust(width) for text, width in zip(line, widths)) + " |")
        if number == 0:
            print("|" + "|".join("-" * (width + 2) for width in widths) + "|")
    if marked:
        print(f"! the check sum differs from the C++ one by more than {TOLERANCE:g} (relative)")


def print_goals(rows, threads):
    def line(label, value, met, unit=""):
        if value is None:
            print(f"  {label:<30} {'-':>6}  no figure")
        else:
            print(f"  {label:<30} {value:>5.2f}{unit or ' '}  {'met' if met(value) else 'missed'}")

    print(f"\ngoal: zel within {GOAL_OF_CPP - 1:.0%} of C++ on all cores "
          f"(zel/C++ <= {GOAL_OF_CPP:.2f})")
    for (kernel, placement, count), row in rows.items():
        if count == threads or "range" not in row:
            label = f"{kernel} {placement} {count} thread" + ("s" if count > 1 else "")
            line(label, ratio(row["zel"].ms, row["C++"].ms), lambda v: v <= GOAL_OF_CPP)
    print(f"goal: zel.range on one thread within {GOAL_OF_RANGE - 1:.0%} of plain range "
          f"(zel/range <= {GOAL_OF_RANGE:.2f})")
    for (kernel, placement, count), row in rows.items():
        if "range" in row:
            line(f"{kernel} {placement}", ratio(row["zel"].ms, row["range"].ms),
                 lambda v: v <= GOAL_OF_RANGE)
    print(f"goal: parallel map on {threads} threads at least {GOAL_SPEEDUP}x its one-thread time")
    for placement in PLACEMENTS:
        if threads < 2:
            print(f"  map {placement}: one usable core, no figure")
            continue
        one, many = rows["map", placement, 1], rows["map", placement, threads]
        speedup = ratio(one["zel"].ms, many["zel"].ms)
        line(f"map {placement}", speedup, lambda v: v >= GOAL_SPEEDUP, "x")


def thread_report(executable, threads):
    parts = [f"os.cpu_count() {os.cpu_count()}", f"usable {threads}"]
    if executable:
        env = dict(os.environ, OMP_NUM_THREADS=str(threads))
        omp = subprocess.run([str(executable), "threads"], env=env, capture_output=True, text=True)
        parts.append(f"OpenMP {omp.stdout.strip()} (OMP_NUM_THREADS={threads})")
    if numba is not None:
        parts.append(f"Numba {numba.__version__}, {numba.config.NUMBA_NUM_THREADS} threads")
    else:
        parts.append("Numba not installed")
    return "threads: " + ", ".join(parts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5, help="timed runs of every version")
    parser.add_argument("--quick", action="store_true",
                        help=f"{QUICK_SIZE:,} elements instead of {SIZE:,}, for a smoke run")
    parser.add_argument("--dir", type=pathlib.Path,
                        help="write the scripts and their builds here, and keep them")
    options = parser.parse_args()
    size = QUICK_SIZE if options.quick else SIZE
    threads = len(os.sched_getaffinity(0))
    started = time.perf_counter()

    with tempfile.TemporaryDirectory() as temporary:
        directory = (options.dir or pathlib.Path(temporary)).resolve()
        directory.mkdir(parents=True, exist_ok=True)
        executable, cpp_note = build_cpp(directory)
        print(f"C++: {cpp_note}")
        scripts = write_scripts(directory, size)
        errors = build_scripts(scripts, threads)
        rows = lay_out(scripts, errors, executable, None if executable else cpp_note, size,
                       threads)
        measure(rows, options.runs)
        threads_line = thread_report(executable, threads)

    print(f"\n{size:,} elements, medians of {options.runs} runs; CPython on a "
          f"{CPYTHON_SHARE}th of the size, scaled")
    print(threads_line)
    print()
    print_table(rows)
    print_goals(rows, threads)
    print(f"\nbenchmark time {time.perf_counter() - started:.0f} s")


if __name__ == "__main__":
    main()
