"""ZEL.run: the built module in the current directory runs as `__main__`, and the process ends
as the interpreter would have ended the script.

The built module here is made by hand with Cython, so the run step is tested apart from the
compile chain: its file is newer than the script, so `import zel` finds the build up to date.
"""
import os
import shutil
import subprocess
import sys
import sysconfig
import textwrap

import pytest

from conftest import load_classes

DEMO_PYX = textwrap.dedent(
    """\
    import os, sys

    class Unprintable(Exception):
        def __str__(self):
            raise RuntimeError("no text")

    class Halt(BaseException):
        pass

    def f():
        raise ValueError("bad")

    class Shape:
        def area(self):
            raise ZeroDivisionError("flat")

    case = os.environ.get("DEMO_CASE", "print")
    print("built", __name__)
    if case == "raise":
        f()
    elif case == "method":
        Shape().area()
    elif case == "exit3":
        sys.exit(3)
    elif case == "exit_text":
        sys.exit("stopped here")
    elif case == "interrupt":
        raise KeyboardInterrupt
    elif case == "unprintable":
        raise Unprintable()
    elif case == "halt":
        raise Halt("halted")
    if __name__ == "__main__":
        print("main block")
    """
)
BUILT_NAME = "demo" + sysconfig.get_config_var("EXT_SUFFIX")


@pytest.fixture(scope="session")
def built_demo(tmp_path_factory):
    """The directory holding demo.pyx and the extension module built from it."""
    from Cython.Build import cythonize
    from setuptools import setup

    directory = tmp_path_factory.mktemp("built_demo")
    (directory / "demo.pyx").write_text(DEMO_PYX, encoding="utf-8")
    cwd = os.getcwd()
    os.chdir(directory)
    try:
        setup(
            script_args=["-q", "build_ext", "--inplace"],
            ext_modules=cythonize(["demo.pyx"], quiet=True, language_level=3),
        )
    finally:
        os.chdir(cwd)
    assert (directory / BUILT_NAME).exists()
    return directory


@pytest.fixture
def demo(runner, built_demo):
    """A script demo.py whose up-to-date build lies in the runner's directory."""

    def place(script_dir=None, build_dir=None):
        script_dir = script_dir or runner.dir
        build_dir = build_dir or runner.dir
        script = runner.write(os.path.relpath(script_dir / "demo.py", runner.dir),
                              "import zel\nprint('interpreted')\n")
        shutil.copy(built_demo / "demo.pyx", build_dir / "demo.pyx")
        built = shutil.copy(built_demo / BUILT_NAME, build_dir / BUILT_NAME)
        later = os.path.getmtime(script) + 10
        os.utime(built, (later, later))
        with open(f"{built}.zel", "w", encoding="utf-8") as record:
            record.write(load_classes().ZEL.build_record(script.read_bytes(), built))
        return script

    return place


def run_demo(runner, case, script="demo.py", cwd=None, **env):
    environment = dict(os.environ, DEMO_CASE=case, **env)
    return subprocess.run(
        [sys.executable, str(script)],
        cwd=cwd or runner.dir,
        env=environment,
        capture_output=True,
        text=True,
        timeout=120,
    )


@pytest.mark.parametrize(
    "case, out, err, status",
    [
        ("print", "# RUN\nbuilt __main__\nmain block\n", "", 0),
        (
            "raise",
            '# RUN\nbuilt __main__\nFile "demo.pyx",  line 11, in f\n'
            'raise ValueError("bad")\nbad\n',
            "",
            1,
        ),
        (
            "method",
            '# RUN\nbuilt __main__\nFile "demo.pyx",  line 15, in area\n'
            'raise ZeroDivisionError("flat")\nflat\n',
            "",
            1,
        ),
        ("exit3", "# RUN\nbuilt __main__\n", "", 3),
        ("exit_text", "# RUN\nbuilt __main__\n", "stopped here\n", 1),
        ("interrupt", "# RUN\nbuilt __main__\n", "KeyboardInterrupt\n", 130),
        ("halt", '# RUN\nbuilt __main__\nFile "demo.pyx",  line 32, in <module>\n'
                 'raise Halt("halted")\nhalted\n', "", 1),
    ],
)
def test_exit_status_as_the_interpreter_gives_it(runner, demo, case, out, err, status):
    demo()
    result = run_demo(runner, case)
    assert (result.stdout, result.stderr, result.returncode) == (out, err, status)


def test_failed_report_is_still_a_failure(runner, demo):
    demo()
    result = run_demo(runner, "unprintable")
    assert result.returncode == 1
    assert result.stdout.startswith('# RUN\nbuilt __main__\nFile "demo.pyx",  line 30, in <module>\n'
                                 'raise Unprintable()\n')
    assert "Traceback" not in result.stdout + result.stderr


def test_build_in_current_directory_runs_for_script_elsewhere(runner, demo):
    """The script's own directory comes first on the module search path, and holds its source."""
    elsewhere = runner.dir / "scripts"
    elsewhere.mkdir()
    script = demo(script_dir=elsewhere)
    result = run_demo(runner, "print", script=script)
    assert (result.stdout, result.returncode) == ("# RUN\nbuilt __main__\nmain block\n", 0)


def test_cuda_path_with_bin_directory(runner, demo, tmp_path):
    demo()
    (tmp_path / "cuda" / "bin").mkdir(parents=True)
    result = run_demo(runner, "print", CUDA_PATH=str(tmp_path / "cuda"))
    assert (result.stdout, result.returncode) == ("# RUN\nbuilt __main__\nmain block\n", 0)


# In-process: the paths that end before the built module is executed.


@pytest.fixture
def run_step(zel_ns, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    zel_ns.ZEL.main_module = type(sys)("script")
    zel_ns.ZEL.main_module.__file__ = "demo.py"

    def run(stem):
        zel_ns.ZEL.stem = stem
        with pytest.raises(SystemExit) as stop:
            zel_ns.ZEL.run()
        return stop.value.code

    return run


@pytest.mark.parametrize(
    "stem, files",
    [
        ("demo", []),
        # the script's own source is not the built module
        ("demo", ["demo.py"]),
        # nor is a library of the same name on the module search path
        ("json", []),
        ("a.b", ["a.b.py"]),
    ],
)
def test_module_not_found(run_step, tmp_path, capsys, stem, files):
    for name in files:
        (tmp_path / name).write_text("print('source')\n")
    saved_main = sys.modules["__main__"]
    assert run_step(stem) == 9
    assert capsys.readouterr().out == f"# RUN\nzel [Fatal.1421] module not found: {stem}\n"
    assert sys.modules["__main__"] is saved_main


@pytest.mark.parametrize("rebuild, log_line", [(False, False), (True, True)])
def test_debug_lines(zel_ns, run_step, capsys, rebuild, log_line):
    zel_ns.ZEL.debug = True
    zel_ns.ZEL.rebuild = rebuild
    run_step("demo")
    lines = capsys.readouterr().out.splitlines()
    expected = [
        '# PYX: "demo.py.pyx"',
        '# CPP: "demo.py.cpp"',
        '# ORG AST: "demo.py.0.ast"',
        '# OUT AST: "demo.py.1.ast"',
    ]
    if log_line:
        expected.append('# LOG: "":-1')
    assert lines == expected + ["# RUN", "zel [Fatal.1421] module not found: demo"]


def test_keep_deepest_frame(zel_ns):
    def inner():
        raise ValueError("deep")

    def outer():
        inner()

    try:
        outer()
    except ValueError as e:
        caught = e
    kept = zel_ns.ZEL.keep_deepest_frame(caught)
    assert kept is caught
    assert kept.__traceback__.tb_next is None
    assert kept.__traceback__.tb_frame.f_code.co_name == "inner"
    plain = KeyError("x")
    assert zel_ns.ZEL.keep_deepest_frame(plain) is plain
