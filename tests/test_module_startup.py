"""Module start-up: the class table, the entry's checks and the import-time dispatch."""
import importlib.machinery
import importlib.metadata
import io
import importlib.util
import os
import sys
import textwrap
import traceback
import types

import pytest

from conftest import load_classes

CLASS_ORDER = ["Etc", "ZELSetupTools", "ZELCython", "ZELConst", "ZELProjection", "ZELAst",
               "ZELUnparser", "ZEL"]

class KeepModule:
    """A finder that hands out the ordinary spec of zel.zel and keeps the module object the
    import executes, so a test can look into the dictionary of a dropped module."""

    def __init__(self):
        self.modules = []

    def find_spec(self, name, path, target=None):
        if name != "zel.zel":
            return None
        spec = importlib.machinery.PathFinder.find_spec(name, path)
        exec_module = spec.loader.exec_module

        def keep_and_exec(module):
            self.modules.append(module)
            exec_module(module)

        spec.loader.exec_module = keep_and_exec
        return spec


@pytest.fixture
def keep_module(monkeypatch):
    finder = KeepModule()
    monkeypatch.setattr(sys, "meta_path", [finder, *sys.meta_path])
    yield finder
    for name in ("zel.zel", "zel"):
        sys.modules.pop(name, None)


def import_zel():
    import zel.zel  # noqa: F401


def test_namespace_order(zel_ns):
    names = [n for n in vars(zel_ns) if not n.startswith("__")]
    assert names == ["sys", "os", "io", "traceback", "ast", "datetime", "List", "Dict", "deque",
                     "defaultdict", "_gf", *CLASS_ORDER]
    import collections
    import datetime
    import typing
    assert zel_ns.datetime is datetime.datetime
    assert (zel_ns.List, zel_ns.Dict) == (typing.List, typing.Dict)  # noqa: UP006
    assert (zel_ns.deque, zel_ns.defaultdict) == (collections.deque, collections.defaultdict)
    assert zel_ns._gf is sys._getframe


def test_classes_module_names_and_bases(zel_ns):
    for name in CLASS_ORDER:
        cls = getattr(zel_ns, name)
        assert (cls.__module__, cls.__qualname__, cls.__name__) == ("zel.zel", name, name)
        if name == "ZELUnparser":
            assert cls.__bases__ == (zel_ns.ZELAst._Unparser,)
        else:
            assert cls.__bases__ == (object,) and type(cls) is type


NESTED = [
    ("ZELSetupTools", "__hout__", lambda ns: (object,)),
    ("ZELCython", "CompileError", lambda ns: (Exception,)),
    ("ZELCython", "_EncodedStringIO", lambda ns: (io.StringIO,)),
    ("ZELCython", "_InMemorySource", lambda ns: (ns.ZELCython.FileSourceDescriptor,)),
    ("ZELCython", "_CaptureBuffer", lambda ns: (io.StringIO,)),
    ("ZELAst", "RestructureError", lambda ns: (Exception,)),
    ("ZELAst", "BlockInfo", lambda ns: (object,)),
    ("ZELAst", "StructInfo", lambda ns: (object,)),
    ("ZELAst", "VariableInfo", lambda ns: (object,)),
    ("ZEL", "Error", lambda ns: (Exception,)),
]


@pytest.mark.parametrize("outer, inner, bases", NESTED, ids=[f"{o}.{i}" for o, i, _ in NESTED])
def test_nested_classes(zel_ns, outer, inner, bases):
    cls = getattr(getattr(zel_ns, outer), inner)
    assert (cls.__module__, cls.__qualname__, cls.__name__) == ("zel.zel", f"{outer}.{inner}", inner)
    assert cls.__bases__ == bases(zel_ns)


COMPILER_ATTRIBUTES = [
    ("ZELSetupTools", "Extension", "setuptools", "Extension"),
    ("ZELSetupTools", "setup", "setuptools", "setup"),
    ("ZELCython", "ModuleNode", "Cython.Compiler.ModuleNode", None),
    ("ZELCython", "Pipeline", "Cython.Compiler.Pipeline", None),
    ("ZELCython", "Errors", "Cython.Compiler.Errors", None),
    ("ZELCython", "Context", "Cython.Compiler.Main", "Context"),
    ("ZELCython", "CompilationSource", "Cython.Compiler.Main", "CompilationSource"),
    ("ZELCython", "create_default_resultobj", "Cython.Compiler.Main", "create_default_resultobj"),
    ("ZELCython", "CompilationOptions", "Cython.Compiler.Options", "CompilationOptions"),
    ("ZELCython", "default_options", "Cython.Compiler.Options", "default_options"),
    ("ZELCython", "FileSourceDescriptor", "Cython.Compiler.Scanning", "FileSourceDescriptor"),
    ("ZELCython", "EncodedString", "Cython.Compiler.StringEncoding", "EncodedString"),
]


@pytest.mark.parametrize("owner, name, module, attribute", COMPILER_ATTRIBUTES,
                         ids=[f"{o}.{n}" for o, n, _, _ in COMPILER_ATTRIBUTES])
def test_compiler_attributes_load_on_first_use(zel_ns, owner, name, module, attribute):
    import importlib
    cls = getattr(zel_ns, owner)
    expected = importlib.import_module(module)
    if attribute:
        expected = getattr(expected, attribute)
    assert vars(cls)[name] is not expected  # nothing is loaded while the class is made
    assert getattr(cls, name) is expected
    assert vars(cls)[name] is expected  # and once loaded, it is a plain class attribute


def test_zel_error_class(zel_ns):
    error = zel_ns.ZEL.Error
    assert (error.__module__, error.__qualname__, error.__bases__) == (
        "zel.zel", "ZEL.Error", (Exception,))
    assert str(error()) == "ZEL.Error"
    assert str(error("unparse error while linemap.")) == "unparse error while linemap."
    assert str(error(message="m")) == "m"


def test_zel_class_attributes(zel_ns):
    zel = zel_ns.ZEL
    own = [n for n in vars(zel) if not n.startswith("__") or n == "__version__"]
    assert own[:7] == ["__version__", "name", "debug", "rebuild", "log_line", "main_module",
                       "Error"]
    assert (zel.__version__, zel.name, zel.debug, zel.rebuild, zel.log_line) == (
        importlib.metadata.version("zel"), "zel", False, False, -1)
    # The stand-in main module of the fixture was the `__main__` entry when the class was made.
    assert type(zel.main_module).__name__ == "StandInMain"
    methods = ["fatal_msg", "module_command", "prepare_path"]
    assert [n for n in own if n in methods] == methods
    for name in methods:
        assert isinstance(vars(zel)[name], classmethod)


def test_each_import_runs_the_body_again(zel_ns):
    again = load_classes()
    for name in CLASS_ORDER:
        assert getattr(again, name) is not getattr(zel_ns, name)
    assert again.ZELAst.struct_def is not zel_ns.ZELAst.struct_def


def test_a_dropped_body_run_is_collected():
    import ast
    import gc
    import weakref
    ns = load_classes()
    # Use the classes first, so that every method that reaches the namespace has run.
    ns.ZELAst.restruct(ast.parse("import numpy\nx: int = 1\nfor i in range(3):\n    y = numpy.zeros(3, 'f8')\n"))
    classes = [weakref.ref(getattr(ns, name)) for name in CLASS_ORDER]
    classes.append(weakref.ref(ns.ZELAst.BlockInfo))
    del ns
    gc.collect()
    assert [ref for ref in classes if ref() is not None] == []


@pytest.mark.parametrize("package", ["setuptools", "Cython"])
def test_a_missing_build_package_fails_the_import(runner, package):
    result = runner.run_script("needs.py", f"""\
        import sys
        sys.modules[{package!r}] = None  # as if it were not installed
        import zel
        """)
    assert result.stdout == ""
    assert result.stderr.endswith(f"ModuleNotFoundError: No module named '{package}'\n")
    assert result.returncode == 1


def test_missing_main_module(monkeypatch, keep_module):
    monkeypatch.delitem(sys.modules, "__main__")
    with pytest.raises(SystemError, match="^Undefined __main__ module$") as info:
        import_zel()
    assert "init zel.zel" in [entry.name for entry in traceback.extract_tb(info.tb)]
    (module,) = keep_module.modules
    assert [n for n in CLASS_ORDER if n in vars(module)] == CLASS_ORDER[:-1]
    assert "zel.zel" not in sys.modules


def test_main_module_file_lookup_error(monkeypatch, keep_module):
    class Main(types.ModuleType):
        @property
        def __file__(self):
            raise PermissionError("no file for you")

    monkeypatch.setitem(sys.modules, "__main__", Main("__main__"))
    with pytest.raises(PermissionError, match="no file for you") as info:
        import_zel()
    # The entry stands for the module's initialisation, which called the lookup.
    assert [entry.name for entry in traceback.extract_tb(info.tb)][-2:] == [
        "init zel.zel", "__file__"]
    (module,) = keep_module.modules
    assert "ZEL" in vars(module)


def zel_zel_spec():
    package = importlib.util.find_spec("zel")
    return importlib.machinery.PathFinder.find_spec("zel.zel", package.submodule_search_locations)


def test_exec_step_on_current_and_on_other_module(monkeypatch):
    """exec on the module being executed returns at once; exec on another module object of
    this definition while one is current raises RuntimeError."""
    spec = zel_zel_spec()
    other = spec.loader.create_module(spec)  # no import is running: a new module object
    results = {}

    class Main(types.ModuleType):
        @property
        def __file__(self):
            current = sys.modules["zel.zel"]
            zel_before = current.ZEL
            current.__spec__.loader.exec_module(current)
            results["same"] = current.ZEL is zel_before
            try:
                spec.loader.exec_module(other)
            except RuntimeError as e:
                results["other"] = str(e)
            raise LookupError("stop")

    monkeypatch.setitem(sys.modules, "__main__", Main("__main__"))
    with pytest.raises(LookupError):
        import_zel()
    assert results == {
        "same": True,
        "other": "Module 'zel' has already been imported. Re-initialisation is not supported.",
    }
    assert "ZEL" not in vars(other)
    # The failed import emptied the current module: the next import runs the body again.
    load_classes()


def test_import_from_c_option_without_arguments(tmp_path, run_python):
    done = run_python("-c", "import zel", cwd=tmp_path)
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")


@pytest.mark.parametrize("args, output", [
    (["-m", "zel", "Foo"], "Invalid option: Foo\n"),
    (["-m", "zel", "run.py", "test"], "잘못된 사용\n"),
    (["-c", "import zel", "Foo", "test"], "Invalid option: Foo\n"),
    (["-m", "zel"], ""),
])
def test_command_mode_from_the_command_line(tmp_path, run_python, args, output):
    done = run_python(*args, cwd=tmp_path)
    assert (done.returncode, done.stdout, done.stderr) == (0, output, "")


def test_import_ends_with_system_exit_zero(tmp_path, run_python):
    code = textwrap.dedent("""
        try:
            import zel
        except SystemExit as e:
            print("exit", e.code)
        import sys
        print("zel.zel" in sys.modules, "zel" in sys.modules)
    """)
    done = run_python("-c", code, cwd=tmp_path)
    assert (done.returncode, done.stdout) == (0, "exit 0\nFalse False\n")


def test_missing_quit_builtin(tmp_path, run_python):
    # Without site initialisation there is no `quit`; PYTHONPATH still reaches the module.
    code = textwrap.dedent("""
        import sys, traceback
        try:
            import zel
        except NameError as e:
            print(type(e).__name__, e, traceback.extract_tb(e.__traceback__)[-1].name, sep="|")
            print(sorted(n for n in ("zel.zel", "zel") if n in sys.modules))
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    done = run_python("-S", "-c", code, cwd=tmp_path, env=env)
    assert (done.returncode, done.stdout, done.stderr) == (
        0, "NameError|name 'quit' is not defined|init zel.zel\n[]\n", "")


def test_missing_quit_fails_before_any_class(monkeypatch, keep_module):
    import builtins
    monkeypatch.delattr(builtins, "quit")
    with pytest.raises(NameError, match="^name 'quit' is not defined$"):
        import_zel()
    (module,) = keep_module.modules
    assert not any(name in vars(module) for name in ["sys", *CLASS_ORDER])


def second_interpreter_code():
    if sys.version_info >= (3, 13):
        return "import _interpreters as subs\nsub = subs.create('legacy')\n"
    if sys.version_info >= (3, 12):
        return "import _xxsubinterpreters as subs\nsub = subs.create(isolated=False)\n"
    return "import _xxsubinterpreters as subs\nsub = subs.create()\n"


def test_second_interpreter_is_refused(tmp_path, run_python):
    result = tmp_path / "result.txt"
    code = second_interpreter_code() + textwrap.dedent(f"""
        try:
            import zel
        except SystemExit:
            pass
        subs.run_string(sub, '''
        try:
            import zel
        except BaseException as e:
            open({str(result)!r}, "w").write(type(e).__name__ + ": " + str(e))
        ''')
    """)
    done = run_python("-c", code, cwd=tmp_path)
    assert (done.returncode, done.stdout) == (0, ""), done.stderr
    assert result.read_text() == (
        "ImportError: Interpreter change detected - this module can only be loaded into one "
        "interpreter per process.")
