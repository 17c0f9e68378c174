"""End to end: `python script.py` on scripts that start with `import zel`, built and run natively."""
import os
import subprocess
import sys
import sysconfig
import textwrap

import pytest

from messages import FATAL

BUILT_SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")
# SystemExit(-1) as the operating system reports it.
INTERNAL_ERROR = 255

PLAIN = """\
import zel
import math
from collections import Counter

import numpy as np


class Account:
    def __init__(self, owner, balance=0):
        self.owner = owner
        self.balance = balance

    def deposit(self, amount):
        if amount <= 0:
            raise ValueError(f"bad amount {amount}")
        self.balance += amount
        return self.balance


def primes(limit):
    found = []
    for n in range(2, limit):
        if all(n % p for p in found):
            found.append(n)
    return found


account = Account("ada")
for amount in (10, -5, 32):
    try:
        account.deposit(amount)
    except ValueError as err:
        print("refused:", err)
print(f"{account.owner} has {account.balance}")

squares = {n: n * n for n in range(5)}
print(squares, [p for p in primes(30) if p > 10])
print(Counter("mississippi").most_common(2))
print(f"{math.pi:.5f}", math.factorial(12), __name__)
grid = np.arange(6).reshape(2, 3)
print(grid.sum(axis=0), grid.T.shape)
i = 0
while i < 3:
    i += 1
else:
    print("done", i)
"""


def built_modules(directory, stem):
    return sorted(p.name for p in directory.iterdir() if p.name.startswith(stem + ".") and
                  p.name.endswith(BUILT_SUFFIX))


def test_plain_script_prints_what_the_interpreter_prints(runner):
    first = runner.assert_prints_as_cpython("plain.py", PLAIN)
    assert built_modules(runner.dir, "plain") == ["plain" + BUILT_SUFFIX]

    second = runner.run("plain.py")
    assert (second.stdout, second.stderr, second.returncode) == (
        first.stdout.replace("# COMPILE..\n", "", 1), "", 0)


def test_a_run_that_reuses_its_build_loads_no_compiler(runner):
    source = """\
        import zel
        import sys
        print(sorted({m.split(".")[0] for m in sys.modules} & {"setuptools", "Cython", "distutils"}))
        """
    first = runner.run_script("warm.py", source)
    assert first.stdout.startswith("# COMPILE..\n# RUN\n['Cython', ")
    second = runner.run("warm.py")
    assert (second.stdout, second.returncode) == ("# RUN\n[]\n", 0)


def test_read_only_directory_is_found_before_the_compile(runner):
    runner.write("readonly.py", """\
        import os
        real_access = os.access
        os.access = lambda path, mode, **kw: mode != os.W_OK and real_access(path, mode, **kw)
        import zel
        print('never')
        """)
    result = runner.run("readonly.py")
    assert result.stdout == (
        f"zel: cannot write the build into the read-only current directory {runner.dir}\n")
    assert (result.stderr, result.returncode) == ("", INTERNAL_ERROR)
    assert built_modules(runner.dir, "readonly") == []


def test_stale_build_is_rebuilt(runner):
    runner.run_script("again.py", "import zel\nprint('one')\n")
    built = runner.dir / ("again" + BUILT_SUFFIX)
    script_time = os.path.getmtime(runner.dir / "again.py")
    os.utime(built, (script_time - 10, script_time - 10))
    result = runner.run("again.py")
    assert (result.stdout, result.returncode) == ("# COMPILE..\n# RUN\none\n", 0)


@pytest.mark.parametrize("damage", [
    lambda data: data[:4096],                 # `head -c 4096` of the build over itself
    lambda data: b"",
    lambda data: b"\x7fELF" + bytes(len(data) - 4),  # a foreign file of the same size
], ids=["cut", "empty", "foreign"])
def test_damaged_build_is_rebuilt(runner, damage):
    runner.run_script("damaged.py", "import zel\nprint('whole')\n")
    built = runner.dir / ("damaged" + BUILT_SUFFIX)
    stat = built.stat()
    built.write_bytes(damage(built.read_bytes()))
    os.utime(built, (stat.st_atime, stat.st_mtime))  # the time says up to date
    result = runner.run("damaged.py")
    assert (result.stdout, result.stderr, result.returncode) == (
        "# COMPILE..\n# RUN\nwhole\n", "", 0)
    assert runner.run("damaged.py").stdout == "# RUN\nwhole\n"


def test_scripts_of_the_same_name_run_their_own_builds(runner):
    runner.write("a/main.py", "import zel\nprint('a')\n")
    runner.write("b/main.py", "import zel\nprint('b')\n")
    first = runner.run(os.path.join("a", "main.py"))
    assert first.stdout == "# COMPILE..\n# RUN\na\n"
    # b/main.py is older than the build of a/main.py
    built = runner.dir / ("main" + BUILT_SUFFIX)
    os.utime(runner.dir / "b" / "main.py", (os.path.getmtime(built) - 10,) * 2)
    second = runner.run(os.path.join("b", "main.py"))
    assert second.stdout == "# COMPILE..\n# RUN\nb\n"
    third = runner.run(os.path.join("b", "main.py"))
    assert third.stdout == "# RUN\nb\n"


def test_script_restored_with_its_old_time_is_rebuilt(runner):
    script = runner.write("restored.py", "import zel\nprint('old')\n")
    old_time = os.path.getmtime(script)
    runner.run("restored.py")
    script.write_text("import zel\nprint('new')\n")
    assert runner.run("restored.py").stdout == "# COMPILE..\n# RUN\nnew\n"
    # `cp -p` of the old copy: its text and its time come back, and the build is newer
    script.write_text("import zel\nprint('old')\n")
    os.utime(script, (old_time,) * 2)
    assert runner.run("restored.py").stdout == "# COMPILE..\n# RUN\nold\n"


def test_exception_in_a_function_reports_the_script_line(runner):
    source = """\
        import zel


        def check(n):
            if n > 1:
                raise ValueError(f"too big: {n}")
            return n


        for i in range(3):
            print(check(i))
        """
    result = runner.run_script("fails.py", source)
    assert result.stdout == (
        "# COMPILE..\n# RUN\n0\n1\n"
        'File "fails.py",  line 6, in check\n'
        'raise ValueError(f"too big: {n}")\n'
        "too big: 2\n"
    )
    assert result.returncode == 1


def test_frames_are_named_as_the_interpreter_names_them(runner):
    source = """\
        import zel
        import sys


        def first(seq):
            return next(iter(seq))


        check = lambda n: {}[n]
        def nested(n):
            inner = lambda m: {}[m]
            return inner(n)
        def in_generator(n):
            return first({}[n] for _ in range(1))


        case = sys.argv[1]
        if case == "lambda":
            check(2)
        elif case == "nested":
            nested(3)
        else:
            in_generator(4)
        """
    runner.run_script("frames.py", source, "lambda")
    reports = {case: runner.run("frames.py", case) for case in ("lambda", "nested", "generator")}
    assert {case: (r.stdout.splitlines()[-3], r.returncode) for case, r in reports.items()} == {
        "lambda": ('File "frames.py",  line 9, in <lambda>', 1),
        "nested": ('File "frames.py",  line 11, in <lambda>', 1),
        "generator": ('File "frames.py",  line 14, in <genexpr>', 1),
    }


@pytest.mark.parametrize(
    "ending, err, status",
    [
        ("sys.exit(3)", "", 3),
        ("sys.exit('stopped')", "stopped\n", 1),
        ("sys.exit()", "", 0),
    ],
)
def test_script_ends_itself(runner, ending, err, status):
    result = runner.run_script("ends.py", f"import zel\nimport sys\nprint('before')\n{ending}\n"
                               "print('after')\n")
    assert (result.stdout, result.stderr, result.returncode) == (
        "# COMPILE..\n# RUN\nbefore\n", err, status)


def test_script_run_from_another_directory(runner):
    runner.write("project/report.py", """\
        import zel


        def ratio(a, b):
            return a / b


        print(ratio(6, 3))
        print(ratio(1, 0))
        """)
    (runner.dir / "work").mkdir()
    script = os.path.join("..", "project", "report.py")
    result = runner.run(script, cwd=runner.dir / "work")
    assert result.stdout == (
        "# COMPILE..\n# RUN\n2.0\n"
        'File "report.py",  line 5, in ratio\n'
        "return a / b\n"
        "division by zero\n"
    )
    assert result.returncode == 1
    # the build lands in the current directory, and is what runs the next time
    assert built_modules(runner.dir / "work", "report") == ["report" + BUILT_SUFFIX]
    assert built_modules(runner.dir / "project", "report") == []
    again = runner.run(script, cwd=runner.dir / "work")
    assert again.stdout.startswith("# RUN\n2.0\n")


def test_script_finds_its_own_place_through_its_file_name(runner):
    source = """\
        import zel
        import os

        here = os.path.dirname(__file__)
        with open(os.path.join(here, "data.txt")) as f:
            print(f.read().strip())


        def where():
            return __file__


        print(os.path.isabs(__file__), os.path.basename(where()), globals()["__file__"] == __file__)
        """
    runner.write("sub/job.py", source)
    runner.write("sub/data.txt", "beside the script\n")
    runner.write("data.txt", "in the current directory\n")
    expected = runner.interpreted(textwrap.dedent(source), name="sub/plain.py")
    for run in ("# COMPILE..\n# RUN\n", "# RUN\n"):
        result = runner.run(os.path.join("sub", "job.py"))
        assert (result.stdout, result.returncode) == (run + expected.replace("plain", "job"), 0)


# Modules that zel, the Cython compiler or setuptools import, while the script's own
# directory, which holds a script of the same name, heads the module search path.
MODULE_NAMES = ["random", "tempfile", "glob", "hashlib", "logging", "shutil", "platform",
                "string", "datetime", "collections", "typing", "copy", "subprocess"]


@pytest.mark.parametrize("name", MODULE_NAMES)
def test_script_named_like_a_module_zel_imports(runner, name):
    runner.write("helper.py", "WORD = 'beside'\n")
    source = """\
        import zel
        import sys, os
        import helper
        print("ran as", __name__, helper.WORD, sys.path[0] == os.path.dirname(__file__))
        """
    runner.write(name + ".py", source)
    expected = "ran as __main__ beside True\n"
    # The second run reuses the build, after a shorter way through zel's imports.
    for run in ("# COMPILE..\n# RUN\n", "# RUN\n"):
        result = runner.run(name + ".py")
        assert (result.stdout, result.stderr, result.returncode) == (run + expected, "", 0)


def test_empty_script(runner):
    # The script empties its own file before zel reads it.
    result = runner.run_script("empty.py", "open(__file__, 'w').close()\nimport zel\n")
    assert (result.stdout, result.stderr, result.returncode) == ("# COMPILE..\n# RUN\n", "", 0)


def test_syntax_error_is_an_internal_error(runner):
    # `python -x` skips the first line, which zel reads with the rest of the file.
    result = runner.run_script("syntax.py", "@echo off\nimport zel\nprint(1)\n",
                               python_flags=("-x",))
    assert result.stdout == FATAL + "SyntaxError: invalid syntax (<unknown>, line 1)\n"
    assert result.returncode == INTERNAL_ERROR
    assert built_modules(runner.dir, "syntax") == []


@pytest.mark.parametrize("source", [
    b"# -*- coding: latin-1 -*-\nimport zel\nprint('caf\xe9')\n",
    b"\xef\xbb\xbfimport zel\nprint('caf\xc3\xa9')\n",
], ids=["latin-1", "utf-8-bom"])
def test_script_in_the_encoding_it_declares(runner, source):
    (runner.dir / "declared.py").write_bytes(source)
    result = runner.run("declared.py")
    assert (result.stdout, result.stderr, result.returncode) == ("# COMPILE..\n# RUN\ncafé\n", "", 0)


def test_script_that_cython_rejects(runner):
    source = """\
        import zel


        def area(w, h):
            return w * h


        cdef = area(2, 3)
        print(cdef)
        """
    result = runner.run_script("rejected.py", source)
    lines = result.stdout.splitlines()
    assert lines[0] == "# COMPILE.."
    # each quoted line of the listing ends with the script line it came from
    marked = [line for line in lines if line.startswith("** ")]
    assert marked
    for line in marked:
        number = line.rpartition(" ")[2]
        assert line.endswith(f"#lInE{number}EnIl {number}")
    assert "** cdef = area(2, 3)#lInE8EnIl 8" in marked
    assert "# RUN" not in lines
    assert result.returncode == 1
    assert built_modules(runner.dir, "rejected") == []


@pytest.fixture
def failing_build(runner, tmp_path_factory):
    """A script beside a file of the user's, run with a temporary directory of its own."""
    runner.write("broken.py", "import zel\nprint('never')\n")
    (runner.dir / "data.txt").write_text("keep me")
    temp = tmp_path_factory.mktemp("temp")

    def run(**env):
        environment = dict(os.environ, TMPDIR=str(temp), TEMP=str(temp), TMP=str(temp), **env)
        return subprocess.run([sys.executable, "broken.py"], cwd=runner.dir, env=environment,
                              capture_output=True, text=True, timeout=600)

    run.temp = temp
    return run


@pytest.mark.parametrize(
    "env, cause",
    [
        # the compiler is missing
        ({"CXX": "/nonexistent/c++", "LDCXXSHARED": "/nonexistent/c++ -shared"},
         "/nonexistent/c++"),
        # the compiler rejects what it is given: the report names the failing command
        ({"CXXFLAGS": "-include /nonexistent/missing.h"}, "/nonexistent/missing.h"),
    ],
)
def test_failing_build_is_one_internal_error_line(runner, failing_build, env, cause):
    result = failing_build(**env)
    compile_line, error_line = result.stdout.splitlines()
    assert compile_line == "# COMPILE.."
    assert error_line.startswith(FATAL)
    assert cause in error_line
    # the compiler's own last lines go to standard error
    assert cause in result.stderr and len(result.stderr.splitlines()) <= 30
    assert result.returncode == INTERNAL_ERROR
    assert os.listdir(failing_build.temp) == []
    assert sorted(p.name for p in runner.dir.iterdir() if p.is_file()) == ["broken.py", "data.txt"]
    assert (runner.dir / "data.txt").read_text() == "keep me"
