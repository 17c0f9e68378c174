"""The script's module as the interpreter names it: classes and functions belong to `__main__`,
so they print and pickle as under CPython; a script whose file name is no module name builds
and runs under that name."""
import subprocess
import sys
import sysconfig

import pytest

EXT_SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")

PICKLES = """\
import zel
import pickle


class Point:
    def __init__(self, x, y):
        self.x, self.y = x, y

    def __eq__(self, other):
        return (self.x, self.y) == (other.x, other.y)

    def __repr__(self):
        return f"Point({self.x}, {self.y})"


class Shape:
    def area(self) -> float:
        return 0.0


def scale(p: Point, k: float) -> Point:
    return Point(p.x * k, p.y * k)


if __name__ == "__main__":
    p = scale(Point(1.0, 2.0), 3.0)
    print(type(p), type(Shape()), Point.__module__, scale.__module__, Shape.area.__module__)
    print((lambda v: v).__module__, repr(p))
    data = pickle.dumps(p)
    print(b"__main__" in data, pickle.loads(data) == p)
    print(pickle.loads(pickle.dumps(scale)) is scale)
"""


def test_classes_and_functions_belong_to_main(runner):
    runner.assert_prints_as_cpython("pk.py", PICKLES)


NAMED = """\
import zel
import os
import traceback


class Job:
    pass


def fail(k: int) -> None:
    raise ValueError(f"bad {k}")


try:
    fail(3)
except ValueError as e:
    print(os.path.basename(traceback.extract_tb(e.__traceback__)[-1].filename), e)
print(__name__, type(Job()))
"""


@pytest.mark.parametrize("name", ["my-script.py", "my script.py", "1st.py", "a.b.py", "class.py"])
def test_scripts_whose_names_are_no_module_names(runner, name):
    expected = runner.interpreted(NAMED, name="plain_" + name)
    expected = expected.replace("plain_" + name, name)
    first = runner.run_script(name, NAMED)
    assert (first.stdout, first.stderr, first.returncode) == ("# COMPILE..\n# RUN\n" + expected, "", 0)
    again = runner.run(name)
    assert (again.stdout, again.returncode) == ("# RUN\n" + expected, 0)
    stem = name[:-len(".py")]
    assert sorted(p.name for p in runner.dir.iterdir() if p.name.startswith(stem + ".cpython")) == [
        stem + EXT_SUFFIX, stem + EXT_SUFFIX + ".zel"]


def test_a_script_on_standard_input_is_refused_in_one_line(runner):
    script = runner.write("job.py", "import zel\nprint('job')\n")
    with open(script) as stdin:
        result = subprocess.run([sys.executable, "-"], stdin=stdin, cwd=runner.dir,
                                capture_output=True, text=True, timeout=120)
    assert (result.stdout, result.stderr, result.returncode) == (
        "zel: cannot compile a script read from standard input; save it to a file and run that\n",
        "", 255)


def test_an_import_from_the_command_line_leaves_standard_input_alone(runner):
    # As the interpreter does: -c runs its command and never reads the script given on stdin.
    script = runner.write("job.py", "import zel\nprint('job')\n")
    results = []
    for command in ("import zel", "import builtins as zel"):
        with open(script) as stdin:
            ran = subprocess.run([sys.executable, "-c", command], stdin=stdin, cwd=runner.dir,
                                 capture_output=True, text=True, timeout=120)
        results.append((ran.stdout, ran.stderr, ran.returncode))
    assert results[0] == results[1] == ("", "", 0)
