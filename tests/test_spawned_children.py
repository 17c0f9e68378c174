"""multiprocessing's spawn and forkserver children import the script's module again, as
`__mp_main__`, and run its build: the pool's tasks find the script's functions and end."""

import pytest

POOL = """\
import zel
import multiprocessing as mp


def square(k):
    return k * k


def where(_):
    return __name__, type(square).__name__


if __name__ == "__main__":
    with mp.get_context("{method}").Pool(2) as pool:
        print("{method}", pool.map(square, range(5)))
        names = set(pool.map(where, range(4)))
    print(names)
"""


@pytest.mark.parametrize("method", ["spawn", "forkserver"])
def test_a_pool_of_spawned_children_runs_the_build(runner, method):
    source = POOL.format(method=method)
    plain = runner.interpreted(source).splitlines()
    result = runner.run_script("pool.py", source, timeout=300)
    lines = result.stdout.splitlines()
    assert (lines[:3], result.stderr, result.returncode) == (
        ["# COMPILE..", "# RUN", plain[0]], "", 0)
    assert plain[0] == f"{method} [0, 1, 4, 9, 16]"
    # the children run the compiled module, under the name CPython gives it there
    assert plain[1] == "{('__mp_main__', 'function')}"
    assert lines[3] == "{('__mp_main__', 'cython_function_or_method')}"
