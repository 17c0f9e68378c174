"""Command mode: the answer to the first argument, and the three test actions."""
import os
import re
import stat
import subprocess
import sys

import pytest

ACTIONS = ["build_test", "build_test_cuda", "build_test_cuda2"]


@pytest.fixture
def zel(zel_ns, monkeypatch):
    """ZEL with its test actions replaced by recorders."""
    calls = []
    for name in ACTIONS:
        monkeypatch.setattr(zel_ns.ZEL, name,
                            classmethod(lambda cls, name=name: calls.append(name) or "ignored"))
    zel_ns.ZEL.calls = calls
    return zel_ns.ZEL


@pytest.mark.parametrize("argv, output, action", [
    ([], "", None),
    (["run.py"], "잘못된 사용\n", None),
    (["RUN.PY", "test"], "잘못된 사용\n", None),
    (["Run.Py"], "잘못된 사용\n", None),
    (["test.py"], "잘못된 사용\n", None),
    (["x.py.bak"], "Invalid option: x.py.bak\n", None),
    (["py"], "Invalid option: py\n", None),
    (["Foo", "test"], "Invalid option: Foo\n", None),
    ([""], "Invalid option: \n", None),
    (["TESTS"], "Invalid option: TESTS\n", None),
    (["test"], "", "build_test"),
    (["Test", "x"], "", "build_test"),
    (["cuda_test"], "", "build_test_cuda"),
    (["CUDA_Test2"], "", "build_test_cuda2"),
])
def test_first_argument_decides(zel, capsys, argv, output, action):
    assert zel.module_command(argv) is None
    assert capsys.readouterr().out == output
    assert zel.calls == ([action] if action else [])


def test_argument_by_keyword_and_as_tuple(zel, capsys):
    zel.module_command(argv=("Foo",))
    assert capsys.readouterr().out == "Invalid option: Foo\n"


@pytest.mark.parametrize("args", [(), (["a"], ["b"])])
def test_wrong_number_of_arguments(zel, args):
    with pytest.raises(TypeError):
        zel.module_command(*args)


def test_exception_of_an_action_is_not_caught(zel, monkeypatch):
    def fail(cls):
        raise OSError("no disk")
    monkeypatch.setattr(zel, "build_test", classmethod(fail))
    with pytest.raises(OSError, match="no disk"):
        zel.module_command(["test"])


# Stand-in for nvcc: answers --version and "compiles" by writing a program that prints
# PROGRAM_OUTPUT and ends with PROGRAM_STATUS; with COMPILE_STATUS set it fails instead.
FAKE_NVCC = """#!/bin/sh
PATH=/usr/bin:/bin
if [ "$1" = "--version" ]; then
    echo "nvcc: NVIDIA (R) Cuda compiler driver"
    echo "Cuda compilation tools, release 99.1, V99.1.0"
    exit 0
fi
if [ -n "$COMPILE_STATUS" ]; then
    echo "$1(1): error: no compiler today" >&2
    exit "$COMPILE_STATUS"
fi
printf '#!/bin/sh\\necho "%s"\\nexit %s\\n' "$PROGRAM_OUTPUT" "$PROGRAM_STATUS" > "$3"
chmod +x "$3"
"""


def install_fake_nvcc(directory):
    directory.mkdir(parents=True, exist_ok=True)
    nvcc = directory / "nvcc"
    nvcc.write_text(FAKE_NVCC)
    nvcc.chmod(nvcc.stat().st_mode | stat.S_IEXEC)
    return nvcc


@pytest.fixture
def cuda_env(tmp_path, monkeypatch):
    """An environment without CUDA: empty PATH and no CUDA_PATH."""
    empty = tmp_path / "empty"
    empty.mkdir()
    monkeypatch.setenv("PATH", str(empty))
    monkeypatch.delenv("CUDA_PATH", raising=False)
    monkeypatch.delattr(os, "add_dll_directory", raising=False)
    return tmp_path


def test_cuda_report_without_cuda(zel_ns, cuda_env, capsys):
    zel_ns.ZEL.build_test_cuda()
    assert capsys.readouterr().out.splitlines() == [
        "CUDA_PATH: not set",
        "DLL search path: not used on this platform (no os.add_dll_directory)",
        "nvcc: not found",
    ]


@pytest.mark.parametrize("has_bin, dll_directory, dll_line", [
    (True, False, "DLL search path: not used on this platform (no os.add_dll_directory)"),
    (True, True, "DLL search path: the run step adds {bin}"),
    (False, True, "DLL search path: nothing is added (no CUDA_PATH bin directory)"),
])
def test_cuda_report_with_cuda_path(starts_processes, zel_ns, cuda_env, monkeypatch, capsys, has_bin,
                                    dll_directory, dll_line):
    cuda = cuda_env / "cuda"
    cuda.mkdir()
    bin_dir = cuda / "bin"
    if has_bin:
        install_fake_nvcc(bin_dir)
    monkeypatch.setenv("CUDA_PATH", str(cuda))
    if dll_directory:
        monkeypatch.setattr(os, "add_dll_directory", lambda path: None, raising=False)
    zel_ns.ZEL.build_test_cuda()
    nvcc_line = (f"nvcc: {bin_dir / 'nvcc'} (Cuda compilation tools, release 99.1, V99.1.0)"
                 if has_bin else "nvcc: not found")
    assert capsys.readouterr().out.splitlines() == [
        f"CUDA_PATH: {cuda}",
        f"CUDA_PATH bin: {bin_dir} ({'exists' if has_bin else 'does not exist'})",
        dll_line.format(bin=bin_dir),
        nvcc_line,
    ]


def test_cuda_program_without_toolkit(zel_ns, cuda_env, capsys):
    assert zel_ns.ZEL.build_test_cuda2() is None
    assert capsys.readouterr().out == (
        "nvcc: not found; there is no CUDA toolkit, nothing to compile\n")


@pytest.mark.parametrize("env, last_line, status", [
    ({"PROGRAM_OUTPUT": "no GPU: no CUDA device", "PROGRAM_STATUS": "3"},
     "[skipped] run: no GPU: no CUDA device; the program was built but not run on a GPU", None),
    ({"PROGRAM_OUTPUT": "1 4 9 16", "PROGRAM_STATUS": "0"}, "[ok] run on the GPU: 1 4 9 16", None),
    ({"PROGRAM_OUTPUT": "an illegal memory access", "PROGRAM_STATUS": "1"},
     "[FAILED] run: status 1: an illegal memory access", 1),
    ({"COMPILE_STATUS": "2"},
     "[FAILED] compile: nvcc ended with status 2: cuda_check.cu(1): error: no compiler today", 1),
])
def test_cuda_program_steps(starts_processes, zel_ns, cuda_env, monkeypatch, capsys, env, last_line, status):
    nvcc = install_fake_nvcc(cuda_env / "toolkit")
    monkeypatch.setenv("PATH", str(nvcc.parent))
    for key, value in env.items():
        monkeypatch.setenv(key, value)
    if status is None:
        zel_ns.ZEL.build_test_cuda2()
    else:
        with pytest.raises(SystemExit) as info:
            zel_ns.ZEL.build_test_cuda2()
        assert info.value.code == status
    lines = capsys.readouterr().out.splitlines()
    assert lines[0] == f"nvcc: {nvcc}"
    assert lines[-1] == last_line
    if "COMPILE_STATUS" not in env:
        assert lines[1] == "[ok] compile: cuda_check.cu"


def run_zel(*args, env=None, cwd=None):
    return subprocess.run([sys.executable, "-m", "zel", *args], capture_output=True, text=True,
                          env=env, cwd=cwd, timeout=600)


def test_self_check_reports_a_missing_compiler(starts_processes, tmp_path):
    env = dict(os.environ, CC=str(tmp_path / "no-such-cc"), CXX=str(tmp_path / "no-such-cxx"))
    done = run_zel("test", env=env, cwd=tmp_path)
    lines = done.stdout.splitlines()
    assert done.returncode == 1
    assert [line.split(":")[0] for line in lines] == [
        "[ok] Python", "[ok] Cython", "[ok] numpy", "[ok] setuptools", "[FAILED] C++ compiler",
        "[FAILED] OpenMP", "[skipped] compile and run", "2 check(s) failed"]


def test_self_check_passes(starts_processes, tmp_path):
    done = run_zel("test", cwd=tmp_path)
    lines = done.stdout.splitlines()
    assert (done.returncode, lines[-1]) == (0, "all checks passed"), done.stdout + done.stderr
    assert [line.split(":")[0] for line in lines[:-1]] == [
        "[ok] Python", "[ok] Cython", "[ok] numpy", "[ok] setuptools", "[ok] C++ compiler",
        "[ok] OpenMP", "[ok] compile and run"]
    offered = re.fullmatch(r"\[ok\] OpenMP: (\d+) threads in a parallel region", lines[-3])
    checked = r'\[ok\] compile and run: a script printed "zel self-check 45 on (\d+) threads"'
    threads = re.fullmatch(checked, lines[-2])
    assert offered and threads and threads[1] == offered[1]
    assert os.listdir(tmp_path) == []


def test_cuda_program_with_the_real_toolkit(starts_processes, tmp_path):
    if not any(os.access(os.path.join(d, "nvcc"), os.X_OK)
               for d in os.environ.get("PATH", "").split(os.pathsep)):
        pytest.skip("no CUDA toolkit on PATH")
    done = run_zel("cuda_test2", cwd=tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    last = done.stdout.splitlines()[-1]
    assert last == "[ok] run on the GPU: 1 4 9 16" or last.startswith("[skipped] run: no GPU")
