"""ZEL.fatal_msg: the one-line report of an unexpected failure during a compile."""
import pytest

from messages import FATAL


def raised(exc):
    try:
        raise exc
    except BaseException as e:
        return e


@pytest.mark.parametrize("make, text", [
    (lambda ns: ValueError("bad"), "ValueError: bad"),
    (lambda ns: ns.ZEL.Error("unparse error while linemap."),
     "Error: unparse error while linemap."),
    (lambda ns: ns.ZEL.Error(), "Error: ZEL.Error"),
    (lambda ns: RuntimeError(), "RuntimeError: "),
    (lambda ns: KeyError("x"), "KeyError: 'x'"),
    (lambda ns: SystemError("fatal.0145: `gone.py`"), "SystemError: fatal.0145: `gone.py`"),
])
@pytest.mark.parametrize("with_traceback", [False, True])
def test_report_line(zel_ns, capsys, make, text, with_traceback):
    e = make(zel_ns)
    if with_traceback:
        e = raised(e)
    assert zel_ns.ZEL.fatal_msg(e) == FATAL + text
    assert capsys.readouterr().out == ""


def test_debug_mode_lists_nothing_outside_the_module(zel_ns, capsys):
    # The module's own functions add no traceback entries under its file name, so even in
    # debug mode the line carries no " at " suffix and nothing is printed.
    zel_ns.ZEL.debug = True
    assert zel_ns.ZEL.fatal_msg(raised(ValueError("bad"))) == FATAL + "ValueError: bad"
    assert capsys.readouterr().out == ""


def test_debug_mode_lists_entries_of_the_module_file(zel_ns, capsys):
    # Code compiled under the module's own file name stands in for entries of the module.
    zel_ns.ZEL.debug = True
    own_file = zel_ns.__file__
    code = compile("def inner():\n    raise ValueError('deep')\n\n\ndef outer():\n    inner()\n",
                   own_file, "exec")
    namespace = {}
    exec(code, namespace)
    e = raised_from(namespace["outer"])
    assert zel_ns.ZEL.fatal_msg(e) == FATAL + "ValueError: deep at 2"
    lines = capsys.readouterr().out.splitlines()
    assert lines == [f'# DEBUG: "{own_file}":6:5 outer', f'# DEBUG: "{own_file}":2:5 inner']


def raised_from(function):
    try:
        function()
    except Exception as e:
        return e


def test_errors_propagate(zel_ns):
    with pytest.raises(AttributeError):
        zel_ns.ZEL.fatal_msg(object())
