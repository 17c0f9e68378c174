"""Rewriting time against script length: the rewrite and emit steps, without Cython and g++.

    python bench/rewrite_scale.py [--runs N]

For generated scripts of 1k, 2k, 4k and 8k annotated lines (module-level declarations, and
declarations inside loops, which are hoisted), and for one fully typed function of 200, 400
and 800 loops, each over its own index or all over one, times `ZELAst.restruct` followed by
`ZEL.unparse` on fresh classes, and prints the median of each size and the ratio per doubling.
The time is the process's processor time: the rewriting runs on one thread, and other work on
the machine then moves the figures less than it moves the wall clock. Goals: at most 2.3 per
doubling, 8k lines in under a second, and the 800 loops of a typed function in well under a
second.
"""
import argparse
import ast
import pathlib
import statistics
import sys
import time

# Fresh classes come from the test suite's loader, which runs the module body again.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from conftest import load_classes  # noqa: E402

SIZES = [1000, 2000, 4000, 8000]
LOOPS = [200, 400, 800]


def script(lines):
    """`lines` annotated lines: every fourth one inside a loop, the rest at module level."""
    out = ["import numpy"]
    for k in range(lines // 4):
        out += [f"a{k}: int = {k}", f"b{k}: float = a{k} * 0.5", f"c{k}: 'i4' = 2",
                f"for i{k} in range(3):", f"    d{k}: float = b{k} + i{k}"]
    return "\n".join(out) + "\n"


def typed_function(loops, one_name=False):
    """One fully typed function of `loops` loops, each over its own index or all over `i`."""
    out = ["import numpy", "def f(n: int, x: (0, 'f8')) -> 'f8':", "    s: 'f8' = 0.0"]
    for k in range(loops):
        index = "i" if one_name else f"i{k}"
        out += [f"    for {index} in range(n):", f"        s += x[{index}] * {k}"]
    out += ["    return s"]
    return "\n".join(out) + "\n"


def rewrite_time(source):
    ns = load_classes()
    tree = ast.parse(source)
    start = time.process_time()
    ns.ZELAst.restruct(tree)
    ns.ZEL.unparse(tree, ns.ZELAst.openmp)
    return time.process_time() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    def table(title, sizes, make):
        print(f"{title:>6} {'median s':>9} {'ratio':>6}")
        previous = None
        for size in sizes:
            source = make(size)
            median = statistics.median(rewrite_time(source) for _ in range(args.runs))
            ratio = f"{median / previous:6.2f}" if previous else f"{'':>6}"
            print(f"{size:>6} {median:9.3f} {ratio}")
            previous = median

    table("lines", SIZES, script)
    table("loops", LOOPS, typed_function)
    print("one loop name:")
    table("loops", LOOPS, lambda loops: typed_function(loops, one_name=True))
    print("goals: ratio <= 2.3 per doubling; 8000 lines < 1 s; 800 loops well under 1 s")


if __name__ == "__main__":
    main()
