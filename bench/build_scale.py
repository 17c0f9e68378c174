"""Cold build of growing scripts: the build time and the compiler's peak memory.

    python bench/build_scale.py [--lines 1000 2000 4000] [--cold-init]

Generates scripts of about the given numbers of lines (`--lines 1000 2000 4000 10000` adds
10k), untyped and typed functions and module-level statements mixed, and runs each once in a
fresh directory, so that it is built and then run. Prints, per script, the wall-clock time of
that first run, its processor time (the Python process and every compiler process) and the
peak memory of the C++ compiler (its largest process), these two with their growth per
doubling of the script; then the compiler's share of the processor time and the peak memory
of the Python process (the rewriting and Cython). Goals: at most 2.3 per doubling, and 10k
lines under 4 GiB and 5 minutes of processor time.
Processor time is what the growth is taken from: unlike wall-clock time it does not depend on
what else the machine runs.
"""
import argparse
import json
import math
import os
import pathlib
import shlex
import subprocess
import sys
import sysconfig
import tempfile

# Sixteen lines: an untyped function and a typed one (a C function), calls of them and a loop
# at module level.
BLOCK = """\
def f{i}(a, b):
    c = a * {factor} + b
    if c > {i}:
        c = c - b
    return [c, a, b]
def g{i}(x: 'f8', n: int) -> 'f8':
    s: 'f8' = 0.0
    for j in range(n):
        s += x * j
    return s
v{i} = f{i}({i}, 2)
w{i} = sum(v{i}) + len(str(v{i}))
for k in range(2):
    w{i} = w{i} + k
u{i}: float = g{i}(w{i} * 0.5, 3)
total = total + w{i} + (u{i} > 0)
"""
HEAD = "import zel\ntotal = 0\n"
TAIL = "print(total)\n"

# Stands in for the C++ compiler: runs it and appends its processor time and peak memory to a
# file. A process started by the large Python process would count that process's memory as its
# own (fork and exec keep the high-water mark), so the compiler is started from this small one.
MEASURE_COMPILER = r"""
import resource, subprocess, sys
status = subprocess.run(sys.argv[2:]).returncode
used = resource.getrusage(resource.RUSAGE_CHILDREN)
with open(sys.argv[1], "a") as f:
    f.write(f"{used.ru_utime + used.ru_stime} {used.ru_maxrss}\n")
sys.exit(status)
"""

# Runs the script in this process, as `python script.py` would, and writes what it measured.
RUN_AND_MEASURE = r"""
import json, resource, runpy, sys, time
script, report, cold_init = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
if cold_init:
    from setuptools.command.build_ext import build_ext
    build_extension = build_ext.build_extension

    def without_small_code(self, ext):
        ext.extra_compile_args = [a for a in ext.extra_compile_args
                                  if not a.startswith("-DCYTHON_SMALL_CODE")]
        build_extension(self, ext)

    build_ext.build_extension = without_small_code
sys.argv = [script]
start = time.perf_counter()
status = 0
try:
    runpy.run_path(script, run_name="__main__")
except SystemExit as stop:
    status = stop.code
seconds = time.perf_counter() - start
own, children = resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)
with open(report, "w") as f:
    json.dump({"status": status, "seconds": seconds,
               "cpu_seconds": own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime,
               "python_kib": own.ru_maxrss}, f)
"""


def script_text(lines):
    blocks = max(1, (lines - HEAD.count("\n") - TAIL.count("\n")) // BLOCK.count("\n"))
    body = "".join(BLOCK.format(i=i, factor=i % 7 + 1) for i in range(blocks))
    return HEAD + body + TAIL


def build_once(lines, cold_init):
    text = script_text(lines)
    with tempfile.TemporaryDirectory() as directory:
        work = pathlib.Path(directory)
        script = work / "scale.py"
        script.write_text(text)
        report = work / "report.json"
        (work / "measure_compiler.py").write_text(MEASURE_COMPILER)
        compiler = os.environ.get("CXX") or sysconfig.get_config_var("CXX")
        env = dict(os.environ, CXX=shlex.join(
            [sys.executable, str(work / "measure_compiler.py"), str(work / "compiler.txt")])
            + " " + compiler)
        done = subprocess.run(
            [sys.executable, "-c", RUN_AND_MEASURE, script.name, str(report), str(int(cold_init))],
            cwd=directory, env=env, capture_output=True, text=True)
        if not report.exists():
            sys.exit(f"the run of {lines} lines did not finish:\n{done.stdout}{done.stderr}")
        result = json.loads(report.read_text())
        if result["status"] != 0 or not done.stdout.startswith("# COMPILE..\n# RUN\n"):
            sys.exit(f"the build of {lines} lines failed:\n{done.stdout}{done.stderr}")
        runs = [line.split() for line in (work / "compiler.txt").read_text().splitlines()]
        result["compiler_seconds"] = sum(float(seconds) for seconds, _ in runs)
        result["compiler_kib"] = max(int(kib) for _, kib in runs)
    result["lines"] = text.count("\n")
    return result


def growth(value, previous, lines, previous_lines):
    """The factor by which `value` grows when the script doubles, from two measurements."""
    doublings = math.log2(lines / previous_lines)
    return (value / previous) ** (1 / doublings)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, nargs="+", default=[1000, 2000, 4000],
                        help="approximate script sizes, in lines")
    parser.add_argument("--cold-init", action="store_true",
                        help="keep Cython's cold module-init function (drop -DCYTHON_SMALL_CODE=)")
    args = parser.parse_args()

    print(f"{'lines':>6} {'wall s':>7} {'cpu s':>7} {'growth':>7} {'compiler MiB':>13} "
          f"{'growth':>7} {'compiler cpu s':>15} {'python MiB':>11}")
    previous = None
    for lines in sorted(args.lines):
        result = build_once(lines, args.cold_init)
        time_growth = memory_growth = "-"
        if previous:
            sizes = result["lines"], previous["lines"]
            time_growth = f"{growth(result['cpu_seconds'], previous['cpu_seconds'], *sizes):.2f}"
            memory_growth = f"{growth(result['compiler_kib'], previous['compiler_kib'], *sizes):.2f}"
        print(f"{result['lines']:>6} {result['seconds']:>7.1f} {result['cpu_seconds']:>7.1f} "
              f"{time_growth:>7} {result['compiler_kib'] / 1024:>13.0f} {memory_growth:>7} "
              f"{result['compiler_seconds']:>15.1f} {result['python_kib'] / 1024:>11.0f}",
              flush=True)
        previous = result


if __name__ == "__main__":
    main()
