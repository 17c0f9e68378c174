"""Ctrl-C during a compile: the process ends as an interrupted interpreter does, once the work
on the compile's own thread has really stopped, and leaves no build behind."""
import signal
import subprocess
import sys
import time

import pytest

# Many functions: the translation and the C++ compiler each take a while, so that the
# interrupts below land in either.
SCRIPT = "import zel\n\n" + "".join(
    f"def f{k}(n: int) -> int:\n    s: int = 0\n    for i in range(n):\n        s += i * {k}\n"
    f"    return s\n\n" for k in range(60)) + "print(f1(10))\n"


@pytest.mark.parametrize("delay", [0.05, 0.5, 1.5, 3.0])
def test_interrupt_during_a_compile(runner, delay):
    runner.write("slow.py", SCRIPT)
    process = subprocess.Popen([sys.executable, "-u", "slow.py"], cwd=runner.dir,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert process.stdout.readline() == "# COMPILE..\n"
    time.sleep(delay)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=300)
    if out.startswith("# RUN"):
        pytest.skip("the compile ended before the interrupt")
    assert (out, err.splitlines()[-1:], process.returncode) == ("", ["KeyboardInterrupt"], 130)
    assert sorted(p.name for p in runner.dir.iterdir()) == ["slow.py"]
