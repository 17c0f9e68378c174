"""A build goes into the current directory whole, with its record, and what runs is the build
its record names for the running script: scripts of the same name built at the same time from
one directory each run their own, and a full disk leaves nothing under the build's name."""
import os
import subprocess
import sys

import pytest

JOB = """\
import zel

def work(n: int) -> int:
    return n * {factor}

if __name__ == "__main__":
    print("job", "{name}", work(3))
"""


@pytest.mark.parametrize("trial", range(3))
def test_scripts_of_one_name_built_together_each_run_their_own(runner, trial):
    scripts = {name: runner.write(f"{name}/job.py", JOB.format(name=name, factor=factor))
               for name, factor in (("a", 2), ("b", 5))}
    processes = {name: subprocess.Popen([sys.executable, str(path)], cwd=runner.dir,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                 for name, path in scripts.items()}
    results = {name: (*process.communicate(timeout=600), process.returncode)
               for name, process in processes.items()}
    assert results["a"][1:] == ("", 0) and results["b"][1:] == ("", 0)
    assert results["a"][0].endswith("# RUN\njob a 6\n")
    assert results["b"][0].endswith("# RUN\njob b 15\n")
    # each runs its own build again, whichever of the two is in place now
    for name, expected in (("a", "job a 6\n"), ("b", "job b 15\n")):
        again = runner.run(scripts[name])
        assert (again.stdout.endswith("# RUN\n" + expected), again.returncode) == (True, 0)
    left = sorted(os.listdir(runner.dir))
    assert [name for name in left if name.startswith(".")] == []  # no temporary files or links


@pytest.fixture
def full_directory(tmp_path):
    """A current directory on a file system too small for any build."""
    directory = tmp_path / "full"
    directory.mkdir()
    if os.geteuid() != 0:
        pytest.skip("mounting a small file system needs root")
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=12k", "tmpfs", str(directory)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip(f"no tmpfs here: {mounted.stderr.strip()}")
    yield directory
    subprocess.run(["umount", str(directory)], check=True)


def test_a_full_disk_leaves_no_build_and_says_so(runner, full_directory):
    script = runner.write("job.py", JOB.format(name="a", factor=2))
    result = runner.run(script, cwd=full_directory)
    assert result.stdout == ("# COMPILE..\nzel: the disk is full, the build was not written: "
                             "[Errno 28] No space left on device\n")
    assert result.returncode == 255
    assert os.listdir(full_directory) == []
    imported = runner.run("-c", "import job", cwd=full_directory)
    assert "ModuleNotFoundError: No module named 'job'" in imported.stderr
