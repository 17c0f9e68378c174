"""Annotated and array declarations: the rewriting that types them and the .pyx text written for them."""
import ast
import textwrap

import pytest

from pyx_helpers import emit, pyx_lines, rewrite


def query_block(ns, source):
    """Rewrites `source` and returns the module block as the walk left it."""
    ZELAst = ns.ZELAst
    tree = ast.parse(textwrap.dedent(source))
    block = ZELAst.BlockInfo(tree)
    ZELAst.reform_Stmt(tree.body, block)
    return block


@pytest.mark.parametrize(
    "statement, line",
    [
        ("n: int = 5", "cdef long long n = 5"),
        ("w: 'f4' = 0.5", "cdef float w = 0.5"),
        ("v: np.float32 = 1.5", "cdef float v = 1.5"),
        ("a: ((3, 4), np.float64) = np.zeros((3, 4))", "cdef double[:,::1] a = np.zeros((3, 4))"),
        ("a: ([3, 4], 'i8') = np.zeros((3, 4), 'i8')", "cdef long long[::1] a = np.zeros((3, 4), 'i8')"),
        ("name: 'S16'", "cdef char* name"),
        ("a = np.zeros((3, 4), np.float64)", "cdef double[:,::1] a = np.zeros((3, 4), np.float64)"),
        ("a = np.zeros(5, 'f8')", "cdef double[::1] a = np.zeros(5, 'f8')"),
    ],
)
def test_module_level_declarations(zel_ns, statement, line):
    assert pyx_lines(zel_ns, "import numpy as np\n" + statement)[-1] == line


@pytest.mark.parametrize(
    "statement",
    [
        "x: str = 'abc'",  # no C type
        "self.x: int = 1",  # attribute target
        "t[0]: int = 1",  # subscript target
        "a, b = 1, 2",  # tuple target
        "a = np.zeros((1, 2, 3, 4, 5, 6, 7), 'f8')",  # too many dimensions
        "a = np.zeros(5, 'S8')",  # byte strings make no view
        "a = np.zeros(5, dtype='f8')",  # keyword dtype
    ],
)
def test_constructs_without_c_type_stay_as_written(zel_ns, statement):
    lines = pyx_lines(zel_ns, "import numpy as np\n" + statement)
    assert "cdef" not in lines[-1]
    assert ast.dump(ast.parse(lines[-1])) == ast.dump(ast.parse(statement))


def test_annotation_of_a_known_name_declares_nothing(zel_ns):
    lines = pyx_lines(zel_ns, "x = 1\nx: int = 2\n")
    assert lines == ["x = 1", "x : int = 2"]


@pytest.mark.parametrize("loop", [
    "for v in values:\n    pass",
    "for v in range(3):\n    pass",
    "for k, v in pairs:\n    pass",
])
def test_annotation_of_a_loop_target_declares_nothing(zel_ns, loop):
    # The loop bound the name as a Python object first; a C declaration after it would not build.
    lines = pyx_lines(zel_ns, loop + "\nv: int = 10\n")
    assert lines[-1] == "v : int = 10"


def test_loop_targets_reannotated_print_as_cpython(runner):
    source = textwrap.dedent("""\
        import zel
        import numpy as np
        for v in np.linspace(0, 1, 3):
            print(v)
        for w in range(3):
            pass
        v: int = 10
        w: int = 5
        for a in [1, 2]:
            pass
        a = np.zeros(3, 'f8')
        print(v, w, a)
        for i in range(4):
            pass
        n: int = 4
        b = np.zeros(n, 'f8')
        for i in zel.range(n):
            b[i] = i * 0.5
        print(b.tolist(), i)
    """)
    runner.assert_prints_as_cpython("reannotated.py", source)


@pytest.mark.parametrize("header", ['if __name__ == "__main__":', "for _ in range(1):",
                                    "with open(__file__):", "try:"])
def test_array_annotated_in_a_block_reads_as_numpy_there(runner, header):
    # Declared at module level, assigned in the block: Python code there sees a numpy array.
    source = textwrap.dedent(f"""\
        import zel
        import numpy as np

        n: int = 6
        {header}
            a: (0, 'f8') = np.zeros(n, 'f8')
            for i in zel.range(n):
                a[i] = i * 0.25
            print(a.tolist())
            print(a.sum(), a.shape, float(a.max()))
    """)
    if header == "try:":
        source += "except OSError:\n    pass\n"
    plain = runner.interpreted(source)
    built = runner.run_script("guarded_array.py", source)
    assert (built.returncode, built.stdout, built.stderr) == (
        0, "# COMPILE..\n# RUN\n" + plain, "")


def test_untyped_annotation_registers_the_statement(zel_ns):
    tree = ast.parse("x: str = 'a'\ny: int = 1\n")
    ZELAst = zel_ns.ZELAst
    block = ZELAst.BlockInfo(tree)
    ZELAst.reform_Stmt(tree.body, block)
    assert block.symbol["x"] is tree.body[0]
    assert isinstance(block.symbol["y"], ZELAst.VariableInfo)
    assert block.symbol["y"].cdf == "long long"


def test_declarations_in_a_loop_are_hoisted_to_the_function_body(zel_ns):
    lines = pyx_lines(
        zel_ns,
        """
        def f():
            for i in range(3):
                t: float = 0.0
                u: int
            return 1
        """,
    )
    assert lines == [
        "def f():",
        "    cdef long long u",
        "    cdef double t",
        "    for i in range(3):",
        "        t = 0.0",
        "        pass",
        "    return 1",
    ]


def test_a_name_hoisted_from_sibling_blocks_is_declared_once(zel_ns):
    lines = pyx_lines(
        zel_ns,
        """
        for i in range(3):
            t: float = 0.0
            t: float = 1.0
        for j in range(3):
            t: float = 2.0
        t: float = 4.0
        """,
    )
    assert lines == [
        "cdef double t",
        "for i in range(3):",
        "    t = 0.0",
        "    t : float = 1.0",  # known in its block: as written
        "for j in range(3):",
        "    t = 2.0",
        "t = 4.0",
    ]


@pytest.mark.parametrize(
    "source, line",
    [
        ("y: float = 1.5\nprint(y)\ny: int = 4", "`y` is declared double; it cannot be annotated `int` again. line 3"),
        ("for i in range(3):\n    t: float = 0.0\nfor k in range(3):\n    t: int = 3",
         "`t` is declared double; it cannot be annotated `int` again. line 4"),
        ("def f(x: 'f8'):\n    if x:\n        x: 'i4' = 1",
         "`x` is declared double; it cannot be annotated `'i4'` again. line 3"),
        ("n: int = 1\nfor i in range(2):\n    n: 'S8' = b''",
         "`n` is declared long long; it cannot be annotated `'S8'` again. line 3"),
    ],
)
def test_annotation_with_another_c_type_is_a_fault(zel_ns, capsys, source, line):
    with pytest.raises(SystemExit) as stop:
        rewrite(zel_ns, source)
    assert stop.value.code == 10
    assert capsys.readouterr().out == line + "\n"


@pytest.mark.parametrize(
    "source, last",
    [
        ("y: float = 1.5\ny: 'f8' = 2.5", "y : 'f8' = 2.5"),  # the same C type
        ("y: float = 1.5\ny: str = 'a'", "y : str = 'a'"),  # no C type: an assignment, as any other
        ("y = 'a'\ny: int = 4", "y : int = 4"),  # an untyped name stays untyped
        ("n: int = 1\ndef f():\n    n: float = 0.5", "    cdef double n = 0.5"),  # another variable: f's own
        ("def g(x: 'f8', y):\n    x: int = 3", "    x : int = 3"),  # a parameter of a list written untyped
    ],
)
def test_annotation_of_a_known_name_without_another_c_type(zel_ns, capsys, source, last):
    lines = pyx_lines(zel_ns, source)
    assert (lines[-1], capsys.readouterr().out) == (last, "")


def test_struct_pointer_declaration_and_repointing(zel_ns):
    lines = pyx_lines(
        zel_ns,
        """
        import numpy as np
        dt = np.dtype([('id', 'i8'), ('name', 'S8')])
        rec = np.zeros(10, dt)
        p: dt = rec[2]
        p = rec[1]
        q: dt = p
        """,
    )
    assert "cdef _struct_dt[::1] rec = np.zeros(10, dt)" in lines
    assert "cdef _struct_dt* p = &rec[2]" in lines
    assert "p = &rec[1]" in lines
    assert "q : dt = p" in lines  # the value already is a struct pointer


def test_chained_array_assignment_declares_each_target(zel_ns):
    tree = rewrite(zel_ns, "import numpy as np\na = b = np.zeros(5, np.float64)\n")
    assert emit(zel_ns, tree).splitlines()[-3:] == [
        "cdef double[::1] a",
        "cdef double[::1] b",
        "a = b = np.zeros(5, np.float64)",
    ]


@pytest.mark.parametrize("typed_block", [False, True])
def test_arrays_below_depth_zero_are_not_declared(zel_ns, typed_block):
    ZELAst = zel_ns.ZELAst
    tree = ast.parse("import numpy as np\nfor i in range(2):\n    a = np.zeros(5, 'f8')\n")
    root = ZELAst.BlockInfo(tree)
    ZELAst.reform_Stmt(tree.body[0], root)
    loop = ZELAst.BlockInfo(tree.body[1], root)
    if typed_block:  # the body of a fully typed function or of a parallel loop
        loop.set_attr(ZELAst.midx, True)
    assign = tree.body[1].body[0]
    ZELAst.reform_Assign(assign, loop)
    assert loop.symbol.get("a") is (None if typed_block else assign)
    assert not getattr(assign.targets[0], ZELAst.cidx, None)
    assert emit(zel_ns, ast.Module([assign], [])) == "a = np.zeros(5, 'f8')"


def test_array_assignment_to_a_known_name_declares_nothing(zel_ns):
    lines = pyx_lines(zel_ns, "import numpy as np\na = 1\na = np.zeros(5, np.float64)\n")
    assert lines[-1] == "a = np.zeros(5, np.float64)"


def test_struct_registration_keeps_the_insertion_index(zel_ns):
    ZELAst = zel_ns.ZELAst
    tree = ast.parse("x = 1")
    root = ZELAst.BlockInfo(tree)
    inner = ZELAst.BlockInfo(ast.If(ast.Constant(True), [], []), root)
    record = ZELAst.StructInfo("")
    record.add("id", "long long")
    root.set_symbol("dt", ZELAst.VariableInfo(tree.body[0], call=record))
    pair = (ast.Constant(10), ast.Name("dt"))
    assert ZELAst.proc_tuple_vardef(pair, inner) == "_struct_dt[::1]"
    assert ZELAst.proc_tuple_vardef(pair, inner) == "_struct_dt[::1]"
    assert root.index == 0 and inner.index == 0
    assert ZELAst.struct_def == {"dt": record}
    other = ZELAst.StructInfo("_f")
    root.set_symbol("et", ZELAst.VariableInfo(tree.body[0], call=other))
    assert ZELAst.proc_tuple_vardef((ast.Constant(3), ast.Name("et")), inner) == "_struct_et_f[::1]"
    assert root.index == 0
    assert ZELAst.get_struct_view("et") == ("et", other)
    assert ZELAst.get_struct_view(ast.Name("dt")) == ("dt", record)
    assert ZELAst.get_struct_view("x") == (None, None)
    assert ZELAst.get_struct_view(ast.Constant("dt")) == (None, None)


def test_struct_view_hoisted_from_a_loop_is_declared_before_the_loop(zel_ns):
    lines = pyx_lines(
        zel_ns,
        "import zel\nimport numpy as np\ndt = np.dtype([('id', 'i4'), ('v', 'f8')])\n"
        "for k in range(2):\n    r: ((10,), dt) = np.zeros(10, dt)\n    r[0].v = k\n",
    )
    declaration = lines.index("cdef _struct_dt[::1] r")
    assert lines[declaration + 1] == "for k in range(2):"


def parse_expr(text):
    return ast.parse(text, mode="eval").body


@pytest.mark.parametrize(
    "pair, ctype",
    [
        ("(n, 'f8')", "double[::1]"),
        ("([3, 4], 'f8')", "double[::1]"),
        ("((3,), np.int32)", "int[::1]"),
        ("((1, 2, 3), float)", "double[:,:,::1]"),
        ("((1, 2, 3, 4, 5, 6), 'i4')", "int[:,:,:,:,:,::1]"),
        ("((1, 2, 3, 4, 5, 6, 7), 'i4')", None),
        ("((), 'i4')", None),
        ("(3, 'S8')", None),
        ("(3, str)", None),
        ("(3, 'f8', 1)", None),
        ("'f8'", None),
    ],
)
def test_pair_types(zel_ns, pair, ctype):
    ZELAst = zel_ns.ZELAst
    block = query_block(zel_ns, "import numpy as np")
    assert ZELAst.proc_tuple_vardef(parse_expr(pair), block) == ctype


@pytest.mark.parametrize(
    "annotation, ctype",
    [
        ("'S16'", "char*"),
        ("int", "long long"),
        ("np.float64", "double"),
        ("single", "float"),
        ("((2, 2), 'f4')", "float[:,::1]"),
        ("str", None),
        ("'c16'", None),
        ("", None),
    ],
)
def test_type_expressions(zel_ns, annotation, ctype):
    ZELAst = zel_ns.ZELAst
    block = query_block(zel_ns, "import numpy as np\nfrom numpy import float32 as single\n")
    target = parse_expr(annotation) if annotation else None
    assert ZELAst.proc_vardef(target, block) == ctype


def test_a_type_name_as_written_when_its_resolution_is_unknown(zel_ns):
    ZELAst = zel_ns.ZELAst
    block = query_block(zel_ns, "from m import int")
    assert ZELAst.proc_vardef(ast.Name("int"), block) == "long long"


@pytest.mark.parametrize(
    "source, name, cdef_type, ref_type",
    [
        ("a = np.zeros((3, 4), np.float64)", "a", "double[:,::1]", "((3, 4), np.float64)"),
        ("a = b = np.zeros(5, 'i4')", "b", "int[::1]", "(5, 'i4')"),
        ("dt = np.dtype([('id', 'i8'), ('name', 'S8')])", "dt", None, "[('id', 'i8'), ('name', 'S8')]"),
        ("x = 5", "x", None, None),
        ("n: int = 5", "n", "long long", "int"),
        ("s: 'S8'", "s", "char*", "'S8'"),
        ("s: str = 'a'", "s", None, None),
        ("np", "np", None, None),
        ("for i in range(2):\n    h: ((2, 2), 'f8') = np.zeros((2, 2))", "h", None, None),
    ],
)
def test_type_queries(zel_ns, source, name, cdef_type, ref_type):
    block = query_block(zel_ns, "import numpy as np\n" + source)
    ZELAst = zel_ns.ZELAst
    assert ZELAst.get_cdef_type(name, block) == cdef_type
    assert ZELAst.get_cdef_type(ast.Name(name), block) == cdef_type
    assert ZELAst.get_ref_type(name, block) == ref_type


def test_type_queries_of_hoisted_declarations(zel_ns):
    ZELAst = zel_ns.ZELAst
    tree = ast.parse("for i in range(2):\n    h: ((2, 2), 'f8') = z\n    k: int\n")
    block = ZELAst.BlockInfo(tree)
    loop = ZELAst.BlockInfo(tree.body[0], block)
    ZELAst.reform_Stmt(tree.body[0].body, loop)
    assert ZELAst.get_cdef_type("h", loop) is None
    assert ZELAst.get_ref_type("h", loop) == "((2, 2), 'f8')"
    assert ZELAst.get_ref_type("k", loop) is None
    assert ZELAst.get_cdef_type(ast.Constant(1), loop) is None


def test_nearest_untyped_binding_hides_a_typed_one(zel_ns):
    ZELAst = zel_ns.ZELAst
    block = query_block(zel_ns, "n: int = 5")
    inner = ZELAst.BlockInfo(ast.If(ast.Constant(True), [], []), block)
    inner.set_symbol("n", ast.parse("n = 1").body[0])
    assert ZELAst.get_cdef_type("n", block) == "long long"
    assert ZELAst.get_cdef_type("n", inner) is None
    assert ZELAst.get_ref_type("n", inner) is None


def test_class_body_annotations_stay_python(zel_ns):
    lines = pyx_lines(
        zel_ns,
        """
        import numpy as np
        class Config:
            size: int = 3
            grid = np.zeros(3, 'f8')
            val: 'i4'
        """,
    )
    assert lines[-6:] == [
        "class Config:",
        "    size : int = 3",
        "    __annotations__['size'] = int",
        "    grid = np.zeros(3, 'f8')",
        "    val : 'i4'",
        "    __annotations__['val'] = 'i4'",
    ]


CLASS_BODIES = """\
import zel
import dataclasses
import numpy as np


class Config:
    size: int = 3
    rate: float = 0.5
    grid = np.zeros(3, 'f8')
    names: list = []
    if size > 2:
        level: int = 2


@dataclasses.dataclass
class Item:
    val: int
    price: float = 0.0
    qty: 'i4' = 1

    def total(self) -> float:
        return self.price * self.qty


@dataclasses.dataclass(frozen=True)
class Point:
    x: float
    y: float = 0.0


if __name__ == "__main__":
    item = Item(3, 2.5, 2)
    print(Config.size, Config.rate, Config.grid.tolist(), Config.level, Config.__annotations__)
    print(item, item.total(), Item.__annotations__)
    print([(f.name, f.type, f.default is dataclasses.MISSING) for f in dataclasses.fields(Item)])
    Config.size = 7
    print(Config.size, Point(1.5), Point(1.0, 2.0) == Point(1.0, 2.0), dataclasses.asdict(item))
"""


def test_class_bodies_print_as_cpython(runner):
    runner.assert_prints_as_cpython("class_bodies.py", CLASS_BODIES)
