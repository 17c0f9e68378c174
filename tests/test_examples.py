"""The examples: the lines they generate, and their output when run as scripts."""
import pathlib
import shutil

import pytest

from pyx_helpers import EXAMPLES, example_pyx_lines

# example: (lines the generated .pyx text holds, what the run prints after "# RUN")
CASES = {
    # the README's first command
    "hello.py": (
        ["def greet(name):", "def fibonacci(n):", "squares = [i * i for i in range(6)]"],
        [
            "Hello, world!",
            "Hello, zel!",
            "squares: [0, 1, 4, 9, 16, 25]",
            "sum of squares: 55",
            "fibonacci(10) = 55",
            "fibonacci(30) = 832040",
            "fibonacci(90) = 2880067194370816120",
        ],
    ),
    "typed_scalars.py": (
        [
            "cdef double height(double x) nogil:",
            "def report(label, *values, sep=' ', **units):",
            "cdef long long steps = 1000000",
            "cdef double width = 1.0 / steps",
            "cdef double x",
            "    x = (i + 0.5) * width",
        ],
        [
            "pi is about 3.141593",
            "steps 1000000 / 1e-06",
            "error below 1e-09 (absolute)",
            "ok",
        ],
    ),
    "array_sum.py": (
        [
            "cdef double total(double[:,::1] grid) nogil:",
            "    cdef double s = 0.0",
            "cdef long long row_sums(double[:,::1] grid, double[::1] out) nogil:",
            "cdef double[:,::1] grid = np.zeros((rows, cols), np.float64)",
            "cdef double[::1] sums = np.zeros(rows, 'f8')",
        ],
        [
            "rows summed 300",
            "first rows 19900.0 20000.0 20100.0",
            "sum 10455000.0",
            "numpy agrees True",
        ],
    ),
    "records.py": (
        [
            "cdef public packed struct _struct_stock:",
            "    char ticker[6]",
            "cdef long long _lookup_stock(_struct_stock[::1] tbl,char* ticker) noexcept nogil:",
            "cdef _struct_stock[::1] table = np.genfromtxt(path, dtype=stock, delimiter=',', skip_header=1)",
            "print('BETA at row', _lookup_stock(table, b'BETA'), 'price', table[_lookup_stock(table, b'BETA')].price)",
            "    if _zel_fieldcmp_(table[i].ticker, 6, b'GAMMA', 7) == 0:",
            "print('highest price', _zel_field_(top.ticker, 6), top.price)",
            "cdef _struct_stock* top = &table[0]",
            "        _zel_keep_top = table",
            "        top = &table[i]",
        ],
        [
            "rows 4",
            "BETA at row 1 price 40.25",
            "OMEGA at row -1",
            "value traded 54552.5",
            "GAMMA volume 4000",
            "highest price b'DELTA' 99.0",
        ],
    ),
    "parallel_loops.py": (
        [
            "def fill(double[::1] a, long long n):",
            "    with _zel_cython_.boundscheck(False), _zel_cython_.initializedcheck(False):",
            "        for i in _cp_prange_(n, nogil=True, num_threads=openmp.omp_get_max_threads(), "
            "schedule='guided'):",
            "cdef double s = 0.0",
            # a module-level loop runs on C locals, in a function of its own
            "cdef int _zel_loop_1_(long long *_zel_at_n, double[::1] a, long long *_zel_at_i, "
            "double *_zel_at_s) except -1:",
            "                s += a[i] * a[i]",
            "        _zel_at_s[0] = s",
            "_zel_loop_1_(&n, a, &i, &s)",
        ],
        [
            "filled 1000000",
            "same at module level True",
            "sum of squares close to numpy True",
            "last 300199200.601",
        ],
    ),
    "projection_recurrence.py": (
        [
            "cdef long long smooth(double[:,::1] x, double[:,::1] y) nogil:",
            "        if True:",
            "            for t in range(x.shape[1]):",
            "                x[r, t] = 0.5 * x[r, t - 1] + y[r, t] if t > 0 else y[r, t]",
            "            if True:",
            "                for t in range(steps):",
            "                    x[r, t] = 0.5 * x[r, t - 1] + y[r, t] if t > 0 else y[r, t]",
        ],
        [
            "row 0 [0.0, 0.5, 1.25, 2.125, 3.0625, 4.0312]",
            "row 1 [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]",
            "row 2 [2.0, 3.5, 4.75, 5.875, 6.9375, 7.9688]",
            "recurrence agrees True",
            "rows smoothed in a function 3",
            "function agrees True",
        ],
    ),
    # Written last to first, run first to last; the statement that reads ahead counts down.
    "projection_order.py": (
        [
            "        for t in range(n):",
            "            step[t,] = t + 1.0",
            "            level[t,] = level[t - 1,] + step[t,] if t > 0 else step[t,]",
            "        for t in range(n - 1, -1, -1):",
            "            ahead[t,] = level[t + 1,] if t + 1 < n else level[t,]",
            "            mid[t,] = 0.5 * (level[t,] + ahead[t,])",
            "if True:",
            "    _zel_loop_0_(&t, &n, step, level)",
            "    _zel_loop_1_(&t, &n, ahead, level)",
            # Where one test finds every index in range, a copy without bounds checks runs.
            "    if n > 0 and (0 < 0 or n > ahead.shape[0] or 0 < 0 or (n > level.shape[0]) or "
            "(0 < 0) or (n > mid.shape[0])):",
            "        _zel_loop_2_(&t, &n, mid, level, ahead)",
            "    else:",
            "        _zel_loop_3_(&t, &n, mid, level, ahead)",
        ],
        [
            "step  [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]",
            "level [1.0, 3.0, 6.0, 10.0, 15.0, 21.0]",
            "ahead [3.0, 6.0, 10.0, 15.0, 21.0, 21.0]",
            "mid   [2.0, 4.5, 8.0, 12.5, 18.0, 21.0]",
            "mid follows level and ahead True",
        ],
    ),
    "pseudo_calls.py": (
        ["print('level', 0)", "print('grid is', '((4, 4), np.float64)')"],
        [
            "level 0",
            "this is line 10",
            "count is int",
            "grid is ((4, 4), np.float64)",
            "label is PyObj",
            "function body depth 0",
            "branch depth 1",
            "loop depth 2",
        ],
    ),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_example_generated_lines(zel_ns, name):
    lines = example_pyx_lines(zel_ns, name)
    for line in CASES[name][0]:
        assert line in lines


@pytest.mark.parametrize("name", sorted(CASES))
def test_example_runs(runner, name):
    # An example comes with the data files that share its stem.
    for path in EXAMPLES.glob(pathlib.Path(name).stem + ".*"):
        shutil.copy(path, runner.dir / path.name)
    result = runner.run(name)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines() == ["# COMPILE..", "# RUN"] + CASES[name][1]


def test_nbody_takes_sqrt_from_the_c_library_in_its_parallel_loop(zel_ns):
    lines = example_pyx_lines(zel_ns, "nbody.py")
    assert "from cython.cimports.libc.math import sqrt" in lines
    assert any("for i in _cp_prange_(n," in line for line in lines)
    assert "            r = sqrt(dx * dx + dy * dy + dz * dz + SOFTENING)" in lines


def test_nbody_prints_what_cpython_prints(runner):
    source = (EXAMPLES / "nbody.py").read_text(encoding="utf-8")
    runner.assert_prints_as_cpython("nbody.py", source)
