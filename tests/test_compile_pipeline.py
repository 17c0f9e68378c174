"""ZEL.compile in-process, with the rewriting, emission, translation and build stood in for."""
import ast
import os
import pathlib
import sysconfig
import types

import pytest

from messages import FATAL

EXT_SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")


class Pipeline:
    """A fresh set of classes whose compile chain records what it is handed."""

    def __init__(self, ns, directory, script="a.py"):
        self.ns = ns
        self.dir = directory
        self.script = script
        self.calls = []
        self.tree = None
        self.build_dir = None
        ns.ZEL.main_module = types.SimpleNamespace(__file__=script)
        ns.ZELAst.restruct = staticmethod(self.restruct)
        ns.ZEL.unparse = staticmethod(self.unparse)
        ns.ZELCython.convert = staticmethod(self.convert)
        ns.ZELSetupTools.build_module_from_cpp = staticmethod(self.build)
        self.fail_in = {}

    def write(self, source, name=None):
        path = self.dir / (name or self.script)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(source if isinstance(source, bytes) else source.encode("utf-8"))

    def step(self, name, *args):
        self.calls.append((name, *args))
        if name in self.fail_in:
            raise self.fail_in[name]

    def restruct(self, tree):
        self.tree = tree
        self.step("restruct")

    def unparse(self, tree, openmp=True):
        self.step("unparse", openmp)
        return "PYX TEXT", {1: 1}

    def convert(self, code, module_name, line_map):
        self.step("convert", code, module_name, line_map)
        return "CPP TEXT"

    def build(self, src, base_name):
        self.build_dir = os.path.dirname(src)
        with open(src, encoding="utf-8") as f:
            self.built_text = f.read()
        self.step("build", os.path.basename(src), base_name)
        with open(os.path.join(self.build_dir, base_name + EXT_SUFFIX), "w") as built:
            built.write("built")

    def compile(self):
        return self.ns.ZEL.compile()


@pytest.fixture
def pipeline(zel_ns, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return Pipeline(zel_ns, tmp_path)


def test_fresh_build_runs_the_whole_chain(pipeline, capsys):
    pipeline.write("x = 1\n")
    assert pipeline.compile() is None
    assert capsys.readouterr().out == "# COMPILE..\n"
    ns = pipeline.ns
    assert (ns.ZEL.base_name, ns.ZEL.stem, ns.ZEL.rebuild) == ("a.py", "a", True)
    assert pipeline.calls == [
        ("restruct",),
        ("unparse", False),
        ("convert", "PYX TEXT", "a", {1: 1}),
        ("build", "a.cpp", "a"),
    ]
    assert isinstance(pipeline.tree, ast.Module)
    assert pipeline.built_text == "CPP TEXT"
    assert not os.path.exists(pipeline.build_dir)
    # the build is moved into place with its record, and a link of its own is left to load
    built = "a" + EXT_SUFFIX
    assert (pipeline.dir / built).read_text() == "built"
    assert os.path.samefile(ns.ZEL.build_file, built)
    assert sorted(os.listdir(pipeline.dir)) == sorted(["a.py", built, built + ".zel",
                                                       ns.ZEL.build_file])


def test_build_is_recorded_with_the_text_it_was_made_from(pipeline):
    built = pipeline.dir / ("a" + sysconfig.get_config_var("EXT_SUFFIX"))
    pipeline.write("x = 1\n")

    def build(src, base_name):
        (pathlib.Path(src).parent / built.name).write_text("built")
        pipeline.write("x = 2\n")  # the script changes while it is being built

    pipeline.ns.ZELSetupTools.build_module_from_cpp = staticmethod(build)
    pipeline.compile()
    record = (pipeline.dir / (built.name + ".zel")).read_text(encoding="utf-8")
    assert record == pipeline.ns.ZEL.build_record(b"x = 1\n", str(built))


def test_openmp_flag_reaches_the_emission(pipeline):
    pipeline.write("x = 1\n")
    pipeline.ns.ZELAst.restruct = staticmethod(
        lambda tree: setattr(pipeline.ns.ZELAst, "openmp", True)
    )
    pipeline.compile()
    assert pipeline.calls[0] == ("unparse", True)


def test_up_to_date_build_is_left_alone(pipeline, capsys):
    pipeline.write("x = 1\n")
    built = pipeline.dir / ("a" + sysconfig.get_config_var("EXT_SUFFIX"))
    built.write_text("built")
    (pipeline.dir / (built.name + ".zel")).write_text(
        pipeline.ns.ZEL.build_record(b"x = 1\n", str(built)), encoding="utf-8")
    script_time = os.path.getmtime(pipeline.dir / "a.py")
    os.utime(built, (script_time + 10, script_time + 10))
    assert pipeline.compile() is None
    assert capsys.readouterr().out == ""
    assert pipeline.calls == []
    assert pipeline.ns.ZEL.rebuild is False
    assert built.read_text() == "built"


@pytest.mark.parametrize(
    "source, first",
    [
        ('"""doc"""\nx = 1\n', "Pass"),
        ("1\nx = 1\n", "Pass"),
        ("...\nx = 1\n", "Pass"),
        ("f()\nx = 1\n", "Expr"),
        ("x = 1\n", "Assign"),
    ],
)
def test_leading_constant_becomes_pass(pipeline, source, first):
    pipeline.write(source)
    pipeline.compile()
    statement = pipeline.tree.body[0]
    assert type(statement).__name__ == first
    assert statement.lineno == 1


def test_only_the_first_statement_is_neutralised(pipeline):
    pipeline.write('"""one"""\n"""two"""\n')
    pipeline.compile()
    assert [type(s).__name__ for s in pipeline.tree.body] == ["Pass", "Expr"]


def test_empty_script_goes_through(pipeline, capsys):
    pipeline.write("")
    pipeline.compile()
    assert capsys.readouterr().out == "# COMPILE..\n"
    assert pipeline.tree.body == []
    assert pipeline.calls[-1] == ("build", "a.cpp", "a")


def test_crlf_script_is_read_with_universal_newlines(pipeline):
    pipeline.write(b"x = 1\r\ny = 2\r\n")
    pipeline.compile()
    assert [s.lineno for s in pipeline.tree.body] == [1, 2]


@pytest.mark.parametrize("source", [
    b"\xef\xbb\xbfx = 'caf\xc3\xa9'\n",                           # UTF-8 with a byte-order mark
    b"# -*- coding: latin-1 -*-\nx = 'caf\xe9'\n",                 # a coding line
    b"#!/usr/bin/env python\n# vim: set fileencoding=cp1252 :\nx = 'caf\xe9'\n",
], ids=["bom", "latin-1", "cp1252-second-line"])
def test_script_is_decoded_as_the_interpreter_decodes_it(pipeline, capsys, source):
    pipeline.write(source)
    pipeline.compile()
    assert capsys.readouterr().out == "# COMPILE..\n"
    assert pipeline.tree.body[-1].value.value == "café"


def expect_fatal(pipeline, capsys):
    with pytest.raises(SystemExit) as stop:
        pipeline.compile()
    assert stop.value.code == -1
    return capsys.readouterr().out


@pytest.mark.parametrize(
    "source, line",
    [
        ("x = = 1\n", "SyntaxError: invalid syntax (<unknown>, line 1)"),
        # bytes that are not UTF-8, without a coding line: refused, as the interpreter refuses them
        (b"x = '\xff'\n", "SyntaxError: invalid or missing encoding declaration"),
        (b"x = 1\ny = '\xff'\n", "UnicodeDecodeError: 'utf-8' codec can't decode byte 0xff"),
    ],
)
def test_unreadable_script_fails_before_compile_line(pipeline, capsys, source, line):
    pipeline.write(source)
    out = expect_fatal(pipeline, capsys)
    assert out.startswith(FATAL + line)
    assert out.count("\n") == 1
    assert pipeline.calls == []


def test_read_only_directory_stops_before_anything_is_deleted(pipeline, capsys, monkeypatch):
    pipeline.write("x = 1\n")
    stale = pipeline.dir / ("a" + sysconfig.get_config_var("EXT_SUFFIX"))
    stale.write_text("built from other text")
    monkeypatch.setattr(os, "access", lambda path, mode: mode != os.W_OK)
    out = expect_fatal(pipeline, capsys)
    assert out == f"zel: cannot write the build into the read-only current directory {pipeline.dir}\n"
    assert pipeline.calls == [] and stale.exists()


def test_missing_script(pipeline, capsys):
    out = expect_fatal(pipeline, capsys)
    assert out == FATAL + "SystemError: fatal.0145: `a.py`\n"


@pytest.mark.parametrize("where", ["restruct", "unparse", "convert", "build"])
def test_failure_in_the_chain_is_one_internal_error_line(pipeline, capsys, where):
    pipeline.write("x = 1\n")
    pipeline.fail_in[where] = ValueError("bad")
    out = expect_fatal(pipeline, capsys)
    assert out == "# COMPILE..\n" + FATAL + "ValueError: bad\n"
    if where == "build":
        assert not os.path.exists(pipeline.build_dir)
    assert sorted(os.listdir(pipeline.dir)) == ["a.py"]


def test_exits_pass_through(pipeline, capsys):
    pipeline.write("x = 1\n")
    pipeline.fail_in["build"] = stop = SystemExit(1)
    with pytest.raises(SystemExit) as caught:
        pipeline.compile()
    assert caught.value is stop
    assert capsys.readouterr().out == "# COMPILE..\n"
    assert not os.path.exists(pipeline.build_dir)


def test_an_interrupt_ends_as_the_interpreters_does(pipeline, capsys):
    pipeline.write("x = 1\n")
    pipeline.fail_in["build"] = KeyboardInterrupt()
    with pytest.raises(SystemExit) as caught:
        pipeline.compile()
    assert caught.value.code == 130
    assert capsys.readouterr() == ("# COMPILE..\n", "KeyboardInterrupt\n")
    assert not os.path.exists(pipeline.build_dir)


def test_exit_from_translation_passes_through(pipeline, capsys):
    pipeline.write("x = 1\n")
    pipeline.fail_in["convert"] = SystemExit(1)
    with pytest.raises(SystemExit) as caught:
        pipeline.compile()
    assert caught.value.code == 1
    assert capsys.readouterr().out == "# COMPILE..\n"


def test_debug_dumps_beside_the_script(zel_ns, tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    pipeline = Pipeline(zel_ns, tmp_path, script=os.path.join("work", "a.py"))
    pipeline.write('"""doc"""\nx = 1\n')
    zel_ns.ZEL.debug = True
    pipeline.compile()
    script = os.path.join("work", "a.py")
    assert capsys.readouterr().out == f'# COMPILE: "{script}"\n'
    work = tmp_path / "work"
    assert sorted(os.listdir(work)) == ["a.py", "a.py.0.ast", "a.py.1.ast", "a.py.cpp", "a.py.pyx"]
    assert "Expr(" in (work / "a.py.0.ast").read_text(encoding="utf-8")
    after = (work / "a.py.1.ast").read_text(encoding="utf-8")
    assert after.startswith("Module(\n    body=[\n        Pass(")
    assert (work / "a.py.pyx").read_text(encoding="utf-8") == "PYX TEXT"
    assert (work / "a.py.cpp").read_text(encoding="utf-8") == "CPP TEXT"
    assert zel_ns.ZEL.log_line == -1


def test_debug_pyx_dump_precedes_translation(pipeline, capsys):
    pipeline.write("x = 1\n")
    pipeline.ns.ZEL.debug = True
    pipeline.fail_in["convert"] = RuntimeError("no")
    out = expect_fatal(pipeline, capsys)
    assert out.endswith(FATAL + "RuntimeError: no\n")
    assert (pipeline.dir / "a.py.pyx").read_text(encoding="utf-8") == "PYX TEXT"
    assert not (pipeline.dir / "a.py.cpp").exists()
