"""A fully typed function recurses in C frames: a recursion that would overrun the thread's stack
raises RecursionError on the function's line, which the script may catch, as the interpreter's
does; an ordinary depth runs as before, on the main thread and on a parallel loop's threads."""

DEEP = """\
import zel
import numpy as np


def depth(n: int, a: (0, 'f8')) -> float:
    \"\"\"How deep the recursion went.\"\"\"
    if n == 0:
        return a[0]
    x: float = depth(n - 1, a)
    return x + 1.0


if __name__ == "__main__":
    a = np.zeros(3, 'f8')
    print(depth(500, a), depth.__doc__)
    try:
        depth(200000, a)
    except RecursionError:
        print("caught")
    print("after", depth(10, a))
"""

UNCAUGHT = """\
import zel
import math


def area(r: float) -> float:
    return math.pi * r * r + area(r)


print(area(1.0))
"""

PARALLEL = """\
import zel
import numpy as np


def depth(n: int) -> float:
    if n == 0:
        return 0.0
    x: float = depth(n - 1)
    return x + 1.0


out = np.zeros(8, 'f8')
for i in zel.range(8):
    out[i] = depth(100 * i)
print(out.tolist())
"""


def test_runaway_recursion_raises_and_is_caught(runner):
    runner.assert_prints_as_cpython("deep.py", DEEP)


def test_uncaught_recursion_is_reported_on_the_function(runner):
    result = runner.run_script("unc.py", UNCAUGHT)
    assert result.returncode == 1
    assert result.stdout.splitlines()[2:] == [
        'File "unc.py",  line 5, in area',
        "def area(r: float) -> float:",
        "maximum recursion depth exceeded",
    ]


def test_parallel_loop_threads_recurse_as_deep_as_before(runner):
    runner.assert_prints_as_cpython("par.py", PARALLEL)
