"""Rewriting time against script length: the rewrite and emit steps, without Cython and g++.

    python bench/rewrite_scale.py [--runs N]

For generated scripts of 1k, 2k, 4k and 8k annotated lines (module-level declarations, and
declarations inside loops, which are hoisted), times `ZELAst.restruct` followed by
`ZEL.unparse` on fresh classes, and prints the median of each size and the ratio per
doubling. Goals: at most 2.2 per doubling, and 8k lines in under a second.
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


def script(lines):
    """`lines` annotated lines: every fourth one inside a loop, the rest at module level."""
    out = ["import numpy"]
    for k in range(lines // 4):
        out += [f"a{k}: int = {k}", f"b{k}: float = a{k} * 0.5", f"c{k}: 'i4' = 2",
                f"for i{k} in range(3):", f"    d{k}: float = b{k} + i{k}"]
    return "\n".join(out) + "\n"


def rewrite_time(source):
    ns = load_classes()
    tree = ast.parse(source)
    start = time.perf_counter()
    ns.ZELAst.restruct(tree)
    ns.ZEL.unparse(tree, ns.ZELAst.openmp)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    print(f"{'lines':>6} {'median s':>9} {'ratio':>6}")
    previous = None
    for lines in SIZES:
        source = script(lines)
        median = statistics.median(rewrite_time(source) for _ in range(args.runs))
        ratio = f"{median / previous:6.2f}" if previous else f"{'':>6}"
        print(f"{lines:>6} {median:9.3f} {ratio}")
        previous = median
    print("goals: ratio <= 2.2 per doubling; 8000 lines < 1 s")


if __name__ == "__main__":
    main()
