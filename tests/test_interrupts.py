"""Ctrl-C stops a compiled script's loops: SIGINT sent to the running build ends it as an
interrupted CPython ends, with status 130, within a fraction of a second of the signal."""

import signal
import subprocess
import sys
import time

import pytest

LOOPS = {
    "module level, Python objects": "k = 0\nwhile True:\n    k += 1\n",
    # The inner loop is C arithmetic alone: the outer one looks.
    "module level, C integers": "k: int = 0\ni: int\nj: int\nfor i in range(1 << 62):\n"
                                "    for j in range(1000):\n        k += j & 7\n",
    "function with Python code": "def spin(n: int):\n    s: float = 0.0\n    i: int = 0\n"
                                 "    while i < n:\n        s += i * 0.5\n        i += 1\n    return s\n\n"
                                 "spin(1 << 62)\n",
    "calls of a fully typed function": "def step(x: float) -> float:\n    return x * 0.5 + 1.0\n\n"
                                       "if __name__ == '__main__':\n    t = 0.0\n    while True:\n"
                                       "        t = step(t)\n",
    "parallel loops": "a = np.zeros(1000, 'f8')\nwhile True:\n    for i in zel.range(1000):\n"
                      "        a[i] += 1.0\n",
}


def interrupted(runner, name, source):
    """Runs the script until it has started its loop, sends SIGINT and returns the status and
    the seconds it ran on after the signal."""
    runner.write(name, "import zel\nimport numpy as np\nprint('start', flush=True)\n" + source)
    process = subprocess.Popen(
        [sys.executable, name], cwd=runner.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        text=True, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    try:
        while (line := process.stdout.readline()) and line != "start\n":
            pass
        assert line == "start\n", process.stderr.read()
        time.sleep(0.5)
        process.send_signal(signal.SIGINT)
        sent = time.monotonic()
        process.wait(timeout=20)
        return process.returncode, time.monotonic() - sent
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        process.stdout.close()
        process.stderr.close()


@pytest.mark.parametrize("source", LOOPS.values(), ids=list(LOOPS))
def test_sigint_stops_a_running_loop(runner, source):
    status, after = interrupted(runner, "spin.py", source)
    assert status == 130 and after < 2.0, (status, after)
