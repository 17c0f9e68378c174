"""Warm start: running a script whose build is up to date, against importing what zel imports.

    python bench/startup.py [--runs N]

Builds examples/hello.py once in a temporary directory, then times `python hello.py` there
(the build is reused), `python -c "import setuptools, Cython.Compiler.Main, numpy"` (what a
build needs) and `python -c "import numpy"` (what a numeric script pays anyway), and prints the
medians and the ratios of the warm start to each.
"""
import argparse
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

EXAMPLE = pathlib.Path(__file__).resolve().parent.parent / "examples" / "hello.py"
BUILD_IMPORTS = [sys.executable, "-c", "import setuptools, Cython.Compiler.Main, numpy"]
NUMPY_IMPORT = [sys.executable, "-c", "import numpy"]


def timed(command, cwd):
    start = time.perf_counter()
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed with status {result.returncode}:\n"
                 f"{result.stdout}{result.stderr}")
    return elapsed, result.stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=9, help="timed runs of each command")
    runs = parser.parse_args().runs

    with tempfile.TemporaryDirectory() as directory:
        script = shutil.copy(EXAMPLE, directory)
        command = [sys.executable, pathlib.Path(script).name]
        build_time, out = timed(command, directory)
        if not out.startswith("# COMPILE.."):
            sys.exit(f"expected a fresh build, got:\n{out}")
        warm, build_imports, numpy_import = [], [], []
        for _ in range(runs):
            elapsed, out = timed(command, directory)
            if out.startswith("# COMPILE.."):
                sys.exit(f"the build was not reused:\n{out}")
            warm.append(elapsed)
            build_imports.append(timed(BUILD_IMPORTS, directory)[0])
            numpy_import.append(timed(NUMPY_IMPORT, directory)[0])

    warm_median = statistics.median(warm)
    build_imports_median = statistics.median(build_imports)
    numpy_median = statistics.median(numpy_import)
    print(f"first run (build):        {build_time:.3f} s")
    print(f"warm start median:        {warm_median:.3f} s over {runs} runs")
    print(f"build imports median:     {build_imports_median:.3f} s over {runs} runs")
    print(f"numpy import median:      {numpy_median:.3f} s over {runs} runs")
    print(f"ratio warm/build imports: {warm_median / build_imports_median:.2f}")
    print(f"ratio warm/numpy import:  {warm_median / numpy_median:.2f}")


if __name__ == "__main__":
    main()
