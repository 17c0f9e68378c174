"""The .pyx text written for tagged declarations, assignments and function definitions."""
import ast
import sys

import pytest

from pyx_helpers import STACK_TEST, emit


def tag(ns, node, cdef=None, dtype=None, ref=None):
    for name, value in ((ns.ZELAst.cidx, cdef), (ns.ZELAst.didx, dtype), (ns.ZELAst.ref_idx, ref)):
        if value is not None:
            setattr(node, name, value)
    return node


@pytest.mark.parametrize(
    "source",
    [
        "def g(a, *rest, key=None, **kw):\n    pass",
        "def f(a, b=1, /, c=2, *, d, e=3, **kw):\n    pass",
        "def f(a, /):\n    pass",
        "def f(*, k):\n    pass",
        "def f(*args: int, **kw: str):\n    pass",
        "def f(x: 'f8', y):\n    pass",
        "def f():\n    pass",
        "f = lambda *xs: xs",
        "f = lambda a, /, b=1, *c, d=2, **e: 0",
        "f = lambda: 0",
        "async def f(a, *b):\n    await a",
    ],
)
def test_untyped_parameter_lists_are_written_whole(zel_ns, source):
    assert emit(zel_ns, ast.parse(source)) == ast.unparse(ast.parse(source))


@pytest.mark.parametrize(
    "source",
    [
        "@dec\n@other(1, key=2)\ndef f(a, b=1, *args, c, d=[], **kw) -> int:\n    return a",
        "def f(x: 'f8', *, scale: float = 1.0) -> 'f8':\n    \"\"\"Scaled.\"\"\"\n    return x * scale",
        "def f():\n    pass\ndef g():\n    pass",
        "class C:\n    x = 1\n    @staticmethod\n    def m(a, /, b):\n        return a\n"
        "    def n(self):\n        def inner():\n            pass\n        return inner",
        "@dec\nasync def f(a, *b, k=None):\n    async for x in a:\n        await x\nasync def g():\n    pass",
        "def f(x):  # type: (int) -> int\n    return x",
    ],
    ids=["decorated", "annotated", "consecutive", "methods", "async", "type-comment"],
)
def test_untyped_functions_are_written_as_the_host_writes_them(zel_ns, source):
    tree = ast.parse(source, type_comments=True)
    assert emit(zel_ns, tree) == ast.unparse(ast.parse(source, type_comments=True))


@pytest.mark.skipif(sys.version_info < (3, 12), reason="type parameters are Python 3.12 syntax")
@pytest.mark.parametrize("keyword", ["def", "async def"])
def test_type_parameters_of_a_function_are_left_out(zel_ns, keyword):
    source = f"@dec\n{keyword} f[T: int, *Ts, **P](x: T, *a: *Ts) -> T:\n    return x"
    assert emit(zel_ns, ast.parse(source)) == f"@dec\n{keyword} f(x: T, *a: *Ts) -> T:\n    return x"


def typed_function(ns, source, return_type=None, param_types=(), typed_list=True):
    tree = ast.parse(source)
    func = tree.body[0]
    tag(ns, func, dtype=return_type)
    tag(ns, func.args, dtype=typed_list)
    for arg, ctype in zip(func.args.args, param_types):
        tag(ns, arg, dtype=ctype)
    return tree, func


def function_lines(text):
    """The emitted lines from the function on, after the stack test's runtime."""
    lines = text.splitlines()
    if lines and lines[0] == "cdef extern from *:":
        lines = lines[1:]
        while lines and lines[0].startswith("    "):
            lines = lines[1:]
    return lines


@pytest.mark.parametrize(
    "source, return_type, param_types, header",
    [
        ("def f(x, n=3): pass", "double", ["double", "long long"], "cdef double f(double x, long long n=3) nogil:"),
        ("def f(x: 'f8', n: int = 3) -> 'f8': pass", "double", ["double", "long long"],
         "cdef double f(double x, long long n=3) nogil:"),
        ("def k() -> int: pass", "long long", [], "cdef long long k() nogil:"),
        ("def h(x: 'f8'): pass", None, ["double"], "def h(double x):"),
        ("def f(a, b, c=1): pass", None, ["int", "int", "int"], "def f(int a, int b, int c=1):"),
        ("def f(a=1, /, b=2): pass", None, ["long long"], "def f(long long b=2):"),
        ("def f(v: ((3,), 'f8')) -> 'f8': pass", "double", ["double[::1]"], "cdef double f(double[::1] v) nogil:"),
    ],
)
def test_typed_function_headers(zel_ns, source, return_type, param_types, header):
    tree, func = typed_function(zel_ns, source, return_type, param_types)
    stack_test = STACK_TEST if return_type else []
    assert function_lines(emit(zel_ns, tree)) == [header, *stack_test, "    pass"]
    if return_type:
        assert func.returns is None


def test_untagged_list_keeps_annotations_and_a_tagged_function_drops_its_return(zel_ns):
    tree, func = typed_function(zel_ns, "def m(x: 'f8') -> str: pass", None, ["double"], typed_list=False)
    assert emit(zel_ns, tree).splitlines()[0] == "def m(x: 'f8') -> str:"


def test_decorators_and_docstring_of_a_c_function(zel_ns):
    source = '@dec\n@other(1)\ndef f(x):\n    "doc"\n    return x'
    tree, _ = typed_function(zel_ns, source, "double", ["double"])
    assert function_lines(emit(zel_ns, tree)) == [
        "@dec",
        "@other(1)",
        "cdef double f(double x) nogil:",
        "    \"\"\"doc\"\"\"",
        *STACK_TEST,
        "    return x",
    ]


def test_the_stack_test_runtime_comes_once_before_the_first_c_function(zel_ns):
    tree, _ = typed_function(zel_ns, "def f(x):\n    return x\ndef g(y):\n    return y", "double",
                             ["double"])
    g = tree.body[1]
    tag(zel_ns, g, dtype="double")
    tag(zel_ns, g.args, dtype=True)
    tag(zel_ns, g.args.args[0], dtype="double")
    lines = emit(zel_ns, tree).splitlines()
    assert lines[0] == "cdef extern from *:" and sum(line == lines[0] for line in lines) == 1
    assert lines.index("cdef double f(double x) nogil:") < lines.index("cdef double g(double y) nogil:")


def annassign(ns, source, **tags):
    tree = ast.parse(source)
    tag(ns, tree.body[0], **tags)
    return tree


@pytest.mark.parametrize(
    "source, tags, ref, line",
    [
        ("x: float = 0.5", dict(cdef=True, dtype="double"), False, "cdef double x = 0.5"),
        ("x: float = 0.5", {}, False, "x : float = 0.5"),
        ("x: float = 0.5", dict(cdef=True), False, "x : float = 0.5"),
        ("x: float = 0.5", dict(dtype="double"), False, "x : float = 0.5"),
        ("name: 'S16'", dict(cdef=True, dtype="char*"), False, "cdef char* name"),
        ("p: dt = rec[2]", dict(cdef=True, dtype="_struct_dt*"), True, "cdef _struct_dt* p = &rec[2]"),
        ("p: dt = rec[2]", {}, True, "p : dt = rec[2]"),
        ("(x): int = 1", {}, False, "(x) : int = 1"),
        ("self.x: int = 1", {}, False, "self.x : int = 1"),
    ],
)
def test_annotated_assignments(zel_ns, source, tags, ref, line):
    tree = annassign(zel_ns, source, **tags)
    if ref:
        tag(zel_ns, tree.body[0].value, ref=True)
    assert emit(zel_ns, tree) == line


@pytest.mark.parametrize("typed, lines", [
    ((True, True), ["cdef double[::1] a", "cdef double[::1] b", "a = b = &v"]),
    ((False, True), ["cdef double[::1] b", "a = b = &v"]),
    ((False, False), ["a = b = &v"]),
])
def test_several_targets_stay_one_assignment(zel_ns, typed, lines):
    # One cascaded assignment evaluates the value once and converts it for each target.
    tree = ast.parse("a = b = v")
    stmt = tree.body[0]
    for target, declared in zip(stmt.targets, typed):
        if declared:
            tag(zel_ns, target, cdef=True, dtype="double[::1]")
    tag(zel_ns, stmt.value, ref=True)
    assert emit(zel_ns, tree).splitlines() == lines


def test_a_referenced_value_takes_its_address(zel_ns):
    tree = ast.parse("p = q")
    tag(zel_ns, tree.body[0].value, ref=True)
    assert emit(zel_ns, tree) == "p = &q"


def test_plain_assignments_stay_python(zel_ns):
    source = "a, b = 1, 2\nx = y = [1, 2]\ns.t = 3"
    assert emit(zel_ns, ast.parse(source)).splitlines() == [
        "(a, b) = (1, 2)",
        "x = y = [1, 2]",
        "s.t = 3",
    ]
