"""Line markers of the emitter: every output line ends with the script line it came from."""
import ast
import re

import pytest

MARKER = re.compile(r"#lInE(-?\d+)EnIl$")


def emit(zel_ns, tree):
    unparser = zel_ns.ZELUnparser()
    unparser.traverse(tree)
    unparser.finalize()
    return unparser._source


def marked_lines(source):
    """Each output line as (text without its marker, marker number or None)."""
    lines = []
    for line in "".join(source).split("\n"):
        found = MARKER.search(line)
        lines.append((line[: found.start()], int(found.group(1))) if found else (line, None))
    return lines


@pytest.mark.parametrize(
    "script, expected",
    [
        ("\n\nx = 1\n", [("x = 1", 3)]),
        ("a = 1\nb = 2\n", [("a = 1", 1), ("b = 2", 2)]),
        # the else line carries the number of the statement entered before it
        ("if a:\n    b = 1\nelse:\n    b = 2\n",
         [("if a:", 1), ("    b = 1", 2), ("else:", 2), ("    b = 2", 4)]),
        # expressions keep the number of their statement
        ("x = [\n  1,\n  2]\ny = 3\n", [("x = [1, 2]", 1), ("y = 3", 4)]),
        ("try:\n    a\nexcept E:\n    b\nfinally:\n    c\n",
         [("try:", 1), ("    a", 2), ("except E:", 3), ("    b", 4), ("finally:", 4),
          ("    c", 6)]),
        # a match case has no line number of its own
        ("match x:\n    case 1:\n        y\n",
         [("match x:", 1), ("    case 1:", 1), ("        y", 3)]),
        # the empty line before a class definition carries no marker
        ("a = 1\nclass A:\n    pass\n", [("a = 1", 1), ("", None), ("class A:", 2), ("    pass", 3)]),
        ("def f():\n    return 1\n", [("def f():", 1), ("    return 1", 2)]),
    ],
)
def test_each_line_ends_with_its_script_line(zel_ns, script, expected):
    assert marked_lines(emit(zel_ns, ast.parse(script))) == expected


def test_markers_and_line_breaks_are_pieces_of_their_own(zel_ns):
    source = emit(zel_ns, ast.parse("if a:\n    b = 1\nc = 2\n"))
    assert source.count("\n") == 2
    assert all(piece == "\n" or "\n" not in piece for piece in source)
    markers = [i for i, piece in enumerate(source) if piece.startswith("#lInE")]
    assert [source[i] for i in markers] == ["#lInE1EnIl", "#lInE2EnIl", "#lInE3EnIl"]
    # each marker stands just before the line break that ends its line, the last one last
    assert [source[i + 1] for i in markers[:-1]] == ["\n", "\n"]
    assert markers[-1] == len(source) - 1


def test_empty_module_writes_nothing(zel_ns):
    assert emit(zel_ns, ast.parse("")) == []


def test_statements_without_a_number(zel_ns):
    tree = ast.parse("a = 1\nb = 2\nc\nd = 4\ne\n")
    tree.body[1].lineno = None  # a line without a marker
    del tree.body[2].lineno  # the number of the statement before it, which is None
    tree.body[3].lineno = -1
    del tree.body[4].lineno
    assert marked_lines(emit(zel_ns, tree)) == [
        ("a = 1", 1), ("b = 2", None), ("c", None), ("d = 4", -1), ("e", -1)]


def test_finalize_after_an_unnumbered_last_line_adds_nothing(zel_ns):
    tree = ast.parse("a = 1\nb = 2\n")
    tree.body[1].lineno = None
    source = emit(zel_ns, tree)
    assert "".join(source) == "a = 1#lInE1EnIl\nb = 2"


def test_a_failing_line_number_is_not_taken_for_a_missing_one(zel_ns):
    class Broken(ast.Pass):
        @property
        def lineno(self):
            raise RuntimeError("no line")

    with pytest.raises(RuntimeError, match="no line"):
        emit(zel_ns, ast.Module(body=[Broken()], type_ignores=[]))


def test_constructor_state(zel_ns):
    unparser = zel_ns.ZELUnparser()
    assert (unparser._pending_lineno, unparser._open_lineno, unparser._line_closed,
            unparser._fill_struct_lookup_code) == (None, None, True, False)
    assert unparser._source == []
    assert zel_ns.ZELUnparser._LINE_STARTING_TYPES == (ast.stmt, ast.excepthandler, ast.match_case)


def test_f_strings_are_written_through_inner_unparsers(zel_ns):
    # the host makes unparsers of the emitter's own class, with keyword options, for them
    script = "x = f'{a!r} and {b:>{w}}' + f\"{'q'}\"\n"
    assert marked_lines(emit(zel_ns, ast.parse(script))) == [(ast.unparse(ast.parse(script)), 1)]
