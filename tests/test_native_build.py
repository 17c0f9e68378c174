"""The native build: silenced streams and descriptors, the build arguments, real builds."""
import logging
import os
import re
import subprocess
import sys
import textwrap
import types
from pathlib import Path

import numpy
import pytest
import setuptools.command.build_ext
from setuptools.dist import Distribution

from test_cython_translation import PYX, line_map

CHILD_OUTPUT = [sys.executable, "-c", "import sys; print('child out'); print('child err', file=sys.stderr)"]


def write_everywhere():
    print("py out")
    print("py err", file=sys.stderr)
    os.write(1, b"fd out\n")
    os.write(2, b"fd err\n")
    subprocess.run(CHILD_OUTPUT, check=True)


def descriptor_ids():
    return [(os.fstat(fd).st_dev, os.fstat(fd).st_ino) for fd in (1, 2)]


def test_silencer_discards_what_the_process_writes(starts_processes, zel_ns, capfd):
    streams, fds = (sys.stdout, sys.stderr), descriptor_ids()
    with zel_ns.ZELSetupTools.__hout__():
        write_everywhere()
    assert (sys.stdout, sys.stderr) == streams
    assert descriptor_ids() == fds
    print("after")
    assert capfd.readouterr() == ("after\n", "")


def test_silencer_puts_everything_back_when_the_body_raises(starts_processes, zel_ns, capfd):
    streams, fds = (sys.stdout, sys.stderr), descriptor_ids()
    with pytest.raises(ValueError, match="inside"):
        with zel_ns.ZELSetupTools.__hout__():
            write_everywhere()
            raise ValueError("inside")
    assert (sys.stdout, sys.stderr) == streams
    assert descriptor_ids() == fds
    assert capfd.readouterr() == ("", "")


def test_silencer_without_act_leaves_the_streams_alone(zel_ns, capfd):
    streams = sys.stdout, sys.stderr
    with zel_ns.ZELSetupTools.__hout__(False):
        assert (sys.stdout, sys.stderr) == streams
        print("shown")
    assert capfd.readouterr().out == "shown\n"


def test_silencer_with_a_path_writes_there(zel_ns, capfd, tmp_path):
    target = tmp_path / "build.log"
    with zel_ns.ZELSetupTools.__hout__(str(target)):
        print("into the file")
    assert target.read_text() == "into the file\n"
    assert capfd.readouterr() == ("", "")


def test_silencer_closes_a_descriptor_that_was_closed_before(runner):
    tests = Path(__file__).parent
    done = runner.run_script("closed.py", f"""
        import os, sys
        sys.path.insert(0, {str(tests)!r})
        from conftest import load_classes
        hout = load_classes().ZELSetupTools.__hout__
        os.close(2)
        sys.stderr = None
        with hout():
            os.write(2, b"lost")
        try:
            os.fstat(2)
        except OSError:
            print("fd 2 closed again", sys.stderr)
    """)
    assert (done.stdout, done.returncode) == ("fd 2 closed again None\n", 0)


@pytest.fixture
def recorded_setup(zel_ns):
    """Stands in for setuptools.setup: records its arguments and the streams it saw, and
    raises `raises` when that is set."""
    record = types.SimpleNamespace(calls=[], raises=None)

    def setup(**kw):
        record.calls.append(types.SimpleNamespace(kw=kw, stdout=sys.stdout, stderr=sys.stderr))
        if record.raises:
            raise record.raises

    zel_ns.ZELSetupTools.setup = setup
    return record


def test_build_arguments(zel_ns, recorded_setup, tmp_path):
    src = str(tmp_path / "demo.cpp")
    streams = sys.stdout, sys.stderr
    zel_ns.ZELSetupTools.build_module_from_cpp(src, "demo")
    [call] = recorded_setup.calls
    assert list(call.kw) == ["script_args", "name", "version", "description", "ext_modules",
                             "cmdclass"]
    assert call.kw["script_args"] == ["build_ext", "--build-temp", str(tmp_path),
                                      "--build-lib", str(tmp_path)]
    assert (call.kw["name"], call.kw["version"], call.kw["description"]) == (
        "demo", "1.0", "module demo")
    [ext] = call.kw["ext_modules"]
    assert (ext.name, ext.sources, ext.language, ext.include_dirs) == (
        "demo", [src], "c++", [numpy.get_include()])
    assert call.stdout not in streams and call.stderr not in streams
    assert (sys.stdout, sys.stderr) == streams


def test_failures_of_setup_reach_the_caller(zel_ns, recorded_setup, tmp_path):
    streams = sys.stdout, sys.stderr
    recorded_setup.raises = error = ValueError("broken")
    with pytest.raises(ValueError) as caught:
        zel_ns.ZELSetupTools.build_module_from_cpp(str(tmp_path / "demo.cpp"), "demo")
    assert caught.value is error
    assert (sys.stdout, sys.stderr) == streams


def test_a_failed_build_is_an_exception(zel_ns, recorded_setup, tmp_path):
    # setup() reports a failed build by SystemExit, which no compile guard would see
    recorded_setup.raises = SystemExit("error: command 'g++' failed with exit code 1")
    with pytest.raises(RuntimeError, match="^error: command 'g\\+\\+' failed with exit code 1$") as caught:
        zel_ns.ZELSetupTools.build_module_from_cpp(str(tmp_path / "demo.cpp"), "demo")
    assert isinstance(caught.value.__cause__, SystemExit)


def test_an_interrupted_build_stays_an_interrupt(zel_ns, recorded_setup, tmp_path):
    # setup() turns Ctrl-C into SystemExit("interrupted")
    recorded_setup.raises = SystemExit("interrupted")
    with pytest.raises(KeyboardInterrupt):
        zel_ns.ZELSetupTools.build_module_from_cpp(str(tmp_path / "demo.cpp"), "demo")


GCC_COMPILE = ["-O2", "-funswitch-loops", "-ftree-loop-vectorize", "-fvect-cost-model=dynamic",
               "-fno-inline-functions-called-once", "-march=native", "-ffp-contract=off", "-fwrapv",
               "-fopenmp", "-w", "-g0", "-DCYTHON_SMALL_CODE="]
CLANG_COMPILE = ["-O2", "-march=native", "-ffp-contract=off", "-fwrapv", "-fopenmp", "-w", "-g0",
                 "-DCYTHON_SMALL_CODE="]


@pytest.mark.parametrize(
    "compiler, command, compile_args, link_args",
    [
        ("msvc", None, ["/nologo", "/O2", "/openmp"], ["/nologo", "/NOEXP", "/NOIMPLIB"]),
        ("unix", ["x86_64-linux-gnu-gcc", "-pthread"], GCC_COMPILE, ["-fopenmp"]),
        ("unix", ["ccache", "g++"], GCC_COMPILE, ["-fopenmp"]),
        ("unix", ["clang", "-fPIC"], CLANG_COMPILE, ["-fopenmp"]),
        ("unix", ["ccache", "clang++-16"], CLANG_COMPILE, ["-fopenmp"]),
        ("mingw32", ["gcc"], GCC_COMPILE, ["-fopenmp"]),
    ],
)
def test_switches_follow_the_compiler(zel_ns, recorded_setup, monkeypatch, tmp_path, compiler,
                                      command, compile_args, link_args):
    zel_ns.ZELSetupTools.build_module_from_cpp(str(tmp_path / "demo.cpp"), "demo")
    [call] = recorded_setup.calls
    [ext] = call.kw["ext_modules"]
    built = []
    monkeypatch.setattr(setuptools.command.build_ext.build_ext, "build_extension",
                        lambda self, ext: built.append(ext))
    build_command = call.kw["cmdclass"]["build_ext"](Distribution())
    build_command.compiler = types.SimpleNamespace(compiler_type=compiler)
    if command:
        build_command.compiler.compiler_so = command
    build_command.build_extension(ext)
    assert built == [ext]
    assert (ext.extra_compile_args, ext.extra_link_args) == (compile_args, link_args)


# Real builds with the compiler that setuptools finds.

@pytest.fixture
def dirs(tmp_path, monkeypatch):
    """A current directory for the built module and a temporary one for the C++ file."""
    work, current = tmp_path / "work", tmp_path / "current"
    work.mkdir()
    current.mkdir()
    monkeypatch.chdir(current)
    return types.SimpleNamespace(work=work, current=current)


def test_built_module_runs_with_script_lines(starts_processes, zel_ns, dirs, capfd):
    cpp = dirs.work / "demo.cpp"
    cpp.write_text(zel_ns.ZELCython.convert(PYX, "demo", line_map(PYX)))
    logger = list(logging.root.handlers), logging.root.level
    zel_ns.ZELSetupTools.build_module_from_cpp(str(cpp), "demo")
    assert capfd.readouterr() == ("", "")
    assert (list(logging.root.handlers), logging.root.level) == logger
    # the module stays beside the C++ file, for the driver to move into place whole
    assert os.listdir(dirs.current) == []
    [built] = [name for name in os.listdir(dirs.work) if name.startswith("demo.cpython")]
    assert re.fullmatch(r"demo\.cpython-\d+.*\.(so|pyd)", built)
    assert b".debug_info" not in (dirs.work / built).read_bytes()  # built without -g
    assert any(path.suffix in (".o", ".obj") for path in dirs.work.rglob("*"))

    ran = subprocess.run([sys.executable, "-c", "import demo; print(demo.threads()); demo.f(4)"],
                         capture_output=True, text=True, cwd=dirs.work)
    assert ran.stdout == "3\n2\n"  # two threads in the loop: OpenMP at compile and link time
    assert ran.returncode == 1
    assert ran.stderr.splitlines()[-2:] == ['  File "demo.py", line 15, in demo.f',
                                            "ValueError: boom"]


WARNINGS = textwrap.dedent("""\
    #pragma warning(disable: 4244 4996)
    int f(unsigned n) { int unused; for (int i = 0; i < n; ++i) {} return 0; }
""")


def test_generated_code_warnings_are_not_shown(starts_processes, zel_ns, dirs, capfd, monkeypatch):
    # the streams left as they are: only the compiler's switches keep it quiet
    hout = zel_ns.ZELSetupTools.__hout__
    monkeypatch.setattr(zel_ns.ZELSetupTools, "__hout__", lambda target: hout(False))
    cpp = dirs.work / "quiet.cpp"
    cpp.write_text(WARNINGS)
    zel_ns.ZELSetupTools.build_module_from_cpp(str(cpp), "quiet")
    assert "warning" not in capfd.readouterr().err


@pytest.mark.parametrize("environment, shown", [
    ({}, "was not declared in this scope"),
    # no compiler, no compiler output (the command line that setuptools logs goes to the
    # test's log capture here)
    ({"CC": "no-such-compiler", "CXX": "no-such-compiler"}, ""),
])
def test_a_failing_build_shows_the_compilers_last_lines(starts_processes, zel_ns, dirs, capfd,
                                                         monkeypatch, environment, shown):
    for name, value in environment.items():
        monkeypatch.setenv(name, value)
    cpp = dirs.work / "bad.cpp"
    cpp.write_text(WARNINGS + "".join(f"int u{i}() {{ return undeclared; }}\n" for i in range(40)))
    streams = sys.stdout, sys.stderr
    with pytest.raises(RuntimeError, match="^error: "):
        zel_ns.ZELSetupTools.build_module_from_cpp(str(cpp), "bad")
    assert (sys.stdout, sys.stderr) == streams
    out, err = capfd.readouterr()
    assert out == ""
    assert shown in err
    assert len(err.splitlines()) <= 30
    assert os.listdir(dirs.current) == []


def test_silencer_with_a_path_keeps_every_write(zel_ns, capfd, tmp_path):
    target = tmp_path / "build.log"
    target.write_text("from before\n")
    with zel_ns.ZELSetupTools.__hout__(str(target)):
        print("out")
        print("err", file=sys.stderr)
        os.write(2, b"fd err\n")
        print("out again")
    assert target.read_text().splitlines() == ["out", "err", "fd err", "out again"]


def test_c_integers_wrap_whatever_the_interpreters_own_switches(runner, monkeypatch):
    # The variables replace the interpreter's switches, its -fwrapv among them.
    monkeypatch.setenv("CFLAGS", "-O2")
    monkeypatch.setenv("CXXFLAGS", "-O2")
    source = """\
        import zel

        def doublings(start: int) -> int:
            x: int = start
            steps: int = 0
            while x > 0:
                x = x * 2
                steps += 1
            return steps

        y: int = 1
        n: int = 0
        while y > 0:
            y = y * 2
            n += 1
        print("wrapped after", doublings(1), n, "steps")
        """
    result = runner.run_script("wrap.py", source, timeout=300)
    assert (result.stdout, result.returncode) == ("# COMPILE..\n# RUN\nwrapped after 63 63 steps\n", 0)
