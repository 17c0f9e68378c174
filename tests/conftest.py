"""Shared fixtures: fresh module classes for in-process tests, real script runs for end-to-end tests."""
import platform
import subprocess
import sys
import textwrap
import types

import pytest


class _Stop(Exception):
    """Raised from the stand-in __main__ once the module body has created every class."""


def load_classes():
    """Runs the module body again and returns its namespace, without dispatching anything.

    The import reads `__main__.__file__` only after the last class exists; the stand-in main
    module takes the namespace at that moment and stops the import there.
    """
    captured = {}

    class StandInMain(types.ModuleType):
        @property
        def __file__(self):
            captured.update(vars(sys.modules["zel.zel"]))
            raise _Stop

    saved_main = sys.modules.get("__main__")
    sys.modules["__main__"] = StandInMain("__main__")
    try:
        import zel.zel  # noqa: F401
    except _Stop:
        pass
    finally:
        sys.modules["__main__"] = saved_main
        for name in ("zel.zel", "zel"):
            sys.modules.pop(name, None)
    assert captured, "the module body did not reach the import-time dispatch"
    return types.SimpleNamespace(**captured)


@pytest.fixture
def zel_ns():
    """A fresh set of the module's classes: fresh registries, nothing dispatched."""
    return load_classes()


# What zel prints before the script's own output on a run that builds the script.
PROGRESS = "# COMPILE..\n# RUN\n"


class ScriptRunner:
    def __init__(self, directory):
        self.dir = directory

    def write(self, name, source):
        path = self.dir / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(textwrap.dedent(source), encoding="utf-8")
        return path

    def run(self, *args, cwd=None, timeout=600, python_flags=()):
        """Runs `python <args>` in the directory and returns the completed process."""
        return subprocess.run(
            [sys.executable, *python_flags, *map(str, args)],
            cwd=cwd or self.dir,
            capture_output=True,
            text=True,
            timeout=timeout,
        )

    def run_script(self, name, source, *args, **kw):
        self.write(name, source)
        return self.run(name, *args, **kw)

    @staticmethod
    def without_zel(source):
        """The script as CPython runs it on its own: `zel.range` read as `range`."""
        return source.replace("import zel\n", "import builtins as zel\n", 1)

    def interpreted(self, source, name="plain_reference.py"):
        """What CPython prints for the script without zel."""
        result = self.run_script(name, self.without_zel(source))
        assert result.returncode == 0, result.stderr
        return result.stdout

    def assert_prints_as_cpython(self, name, source, *, reference=None, stderr_ignored=None,
                                 **kw):
        """Runs the script with zel, and `reference` (the script itself unless given) without it,
        as CPython runs it: the same standard output after zel's progress lines, the same exit
        status and the same standard error. A test that leaves standard error out says why in
        `stderr_ignored`. Returns the run with zel."""
        built = self.run_script(name, source, **kw)
        plain = self.run_script("plain_" + name, self.without_zel(reference or source), **kw)
        seen = (built.stdout, built.returncode, built.stderr)
        expected = (PROGRESS + plain.stdout, plain.returncode, plain.stderr)
        if stderr_ignored:
            seen, expected = seen[:2], expected[:2]
        assert seen == expected
        return built


@pytest.fixture
def runner(tmp_path):
    """Writes scripts into a temporary directory and runs them there with this interpreter."""
    return ScriptRunner(tmp_path)


# Fixtures whose tests start subprocesses (a script, the interpreter, the compiler): such tests
# are end-to-end tests, and the sanitizer job leaves them out.
E2E_FIXTURES = {"runner", "run_python", "starts_processes"}


@pytest.fixture
def starts_processes():
    """Named by an in-process test that starts a subprocess (the compiler, a tool), making it end-to-end."""


@pytest.fixture
def run_python():
    """Runs this interpreter with the given arguments and returns the completed process."""
    def run(*args, cwd=None, env=None):
        return subprocess.run([sys.executable, *args], capture_output=True, text=True, cwd=cwd,
                              env=env, timeout=120)
    return run


def pytest_collection_modifyitems(items):
    for item in items:
        if E2E_FIXTURES.intersection(getattr(item, "fixturenames", ())):
            item.add_marker(pytest.mark.e2e)


# The compiler's scanner asks for the processor name, which the platform module finds once per
# process by running `uname -p`: found here, before an in-process test refuses subprocesses.
platform.processor()


@pytest.fixture(autouse=True)
def _no_subprocess_outside_e2e(request, monkeypatch):
    """An in-process test that starts a subprocess fails, instead of running a build under the sanitizer."""
    if request.node.get_closest_marker("e2e"):
        return

    def refuse(*args, **kwargs):
        raise AssertionError("this test starts a subprocess: give it one of the fixtures "
                             f"{sorted(E2E_FIXTURES)}")

    monkeypatch.setattr(subprocess.Popen, "__init__", refuse)
