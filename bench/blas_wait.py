"""What numpy's matrix products lose when OpenBLAS's threads sleep at once after every call.

    python bench/blas_wait.py [--runs N]

OpenBLAS's threads wait for work, busy, for a while after each call; a parallel zel loop that
starts in that time shares a processor with them. `OPENBLAS_THREAD_TIMEOUT=4` makes them sleep
at once, which helps such a loop, and this measures what it costs numpy's own products: processes
with the default and with the setting alternate, each timing square products of several sizes,
and the table gives the fastest time of a product in every setting and the ratio.
"""
import argparse
import os
import subprocess
import sys

SIZES = [64, 128, 192, 256, 512]
CHILD = """
import sys, time
import numpy as np
rng = np.random.default_rng(0)
for n in map(int, sys.argv[1:]):
    a, b = rng.random((n, n)), rng.random((n, n))
    reps = max(3, int(2e8 / n**3))
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter()
        for _ in range(reps):
            a @ b
        best = min(best, (time.perf_counter() - start) / reps)
    print(n, best * 1e6)
"""
SETTINGS = {"default": {}, "OPENBLAS_THREAD_TIMEOUT=4": {"OPENBLAS_THREAD_TIMEOUT": "4"}}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3, help="processes of each setting")
    runs = parser.parse_args().runs
    best = {name: dict.fromkeys(SIZES, float("inf")) for name in SETTINGS}
    for _ in range(runs):
        for name, extra in SETTINGS.items():
            env = {k: v for k, v in os.environ.items() if k != "OPENBLAS_THREAD_TIMEOUT"} | extra
            out = subprocess.run([sys.executable, "-c", CHILD, *map(str, SIZES)], env=env,
                                 capture_output=True, text=True, check=True).stdout
            for line in out.splitlines():
                n, us = line.split()
                best[name][int(n)] = min(best[name][int(n)], float(us))
    print("| n   | default (us) | OPENBLAS_THREAD_TIMEOUT=4 (us) | ratio |")
    print("|-----|--------------|--------------------------------|-------|")
    for n in SIZES:
        a, b = best["default"][n], best["OPENBLAS_THREAD_TIMEOUT=4"][n]
        print(f"| {n:<3} | {a:12.1f} | {b:30.1f} | {b / a:5.2f} |")


if __name__ == "__main__":
    main()
