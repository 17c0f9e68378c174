"""Typed function definitions: parameter and return types, the compiled-block mark, the cdef header."""
import ast
import sys

import pytest

from pyx_helpers import emit, rewrite, without_stack_test


def body_block(ns, source):
    """The function's own block, as its body sees it: caught by a probe on the first statement."""
    seen = []
    walk = ns.ZELAst.reform_Stmt

    def probe(cls, node, ci):
        if isinstance(node, ast.Expr) and ast.unparse(node) == "probe":
            seen.append(ci)
        return walk(node, ci)

    ns.ZELAst.reform_Stmt = classmethod(probe)
    try:
        tree = rewrite(ns, source)
    finally:
        ns.ZELAst.reform_Stmt = walk
    return tree.body[0], seen[0]


@pytest.mark.parametrize(
    "header, params, all_typed, returns",
    [
        ("def f(x: 'f8', n: int) -> 'f8':", ["double", "long long"], True, "double"),
        ("def g(x: 'f8', y):", ["double", None], False, None),
        ("def g(y, x: 'f8'):", [None, None], False, None),
        ("def h(x: 'f8'):", ["double"], True, None),
        ("def k() -> int:", [], True, "long long"),
        ("def m(x: 'f8') -> str:", ["double"], True, None),
        ("def meth(self, x: 'f8') -> 'f8':", [None, None], False, None),
        ("def v(x: ((3, 4), 'f4'), s: 'S8') -> 'i4':", ["float[:,::1]", "char*"], True, "int"),
        # Parameters without a C form keep the function an ordinary def.
        ("def h(*, c=3):", [], False, None),
        ("def f(*args) -> int:", [], False, None),
        ("def k(a: int, /, b: int) -> int:", ["long long"], False, None),
        ("def kw(x: int, **kw) -> int:", ["long long"], False, None),
        ("def ko(x: float, *, scale: float = 2.0) -> float:", ["double"], False, None),
    ],
)
def test_parameter_and_return_types(zel_ns, header, params, all_typed, returns):
    A = zel_ns.ZELAst
    func, block = body_block(zel_ns, header + "\n    probe")
    assert [getattr(a, A.didx, None) for a in func.args.args] == params
    assert getattr(func.args, A.didx) is all_typed
    assert getattr(func, A.didx, None) == returns
    assert block.get_attr(A.midx) is (True if returns else None)
    assert block.depth == 0
    for arg, cdf in zip(func.args.args, params):
        entry = block.symbol.get(arg.arg)
        if cdf is None:
            assert entry is None
        else:
            assert isinstance(entry, A.VariableInfo)
            assert (entry.org_node, entry.cdf) == (arg, cdf)


def test_array_parameter_is_a_typed_view(zel_ns):
    func, block = body_block(zel_ns, "def f(a: ((3, 4), 'f8')) -> 'f8':\n    probe")
    entry = block.symbol["a"]
    assert ast.unparse(entry.shape) == "(3, 4)" and ast.unparse(entry.view) == "'f8'"


def test_nested_function_block_name(zel_ns):
    tree = rewrite(
        zel_ns,
        """
        import numpy as np
        def main():
            def run():
                dt = np.dtype([('a', 'i4')])
        """,
    )
    dtype_call = tree.body[1].body[0].body[0].value
    assert getattr(dtype_call, zel_ns.ZELAst.call).name == "_main_run"


def test_function_inside_compiled_function_starts_unmarked(zel_ns):
    func, block = body_block(zel_ns, "def f() -> int:\n    def g():\n        probe\n    return 1")
    assert block.get_attr(zel_ns.ZELAst.midx) is None


@pytest.mark.parametrize(
    "source, header",
    [
        ("def f(x: 'f8', n: int = 3) -> 'f8':", "cdef double f(double x, long long n=3) nogil:"),
        ("def f(x: 'f8', n: int = 3):", "def f(double x, long long n=3):"),
        ("def f(x, n=3) -> 'f8':", "def f(x, n=3) -> 'f8':"),
    ],
)
def test_emitted_function_header(zel_ns, source, header):
    text = without_stack_test(emit(zel_ns, rewrite(zel_ns, source + "\n    return x")))
    assert text.splitlines()[0] == header


def test_typed_function_runs_with_typed_locals(zel_ns):
    text = emit(
        zel_ns,
        rewrite(
            zel_ns,
            """
            def area(w: 'f8', h: 'f8') -> 'f8':
                s: float = w * h
                return s
            """,
        ),
    )
    assert without_stack_test(text).splitlines() == [
        "cdef double area(double w, double h) nogil:",
        "    cdef double s = w * h",
        "    return s",
    ]


# Annotations that zel gives no C type, as code written for other compilers spells its types.
FOREIGN_ANNOTATIONS = """\
import zel
import numpy as np


def scale(a: 'int[:]', k):
    return [int(v * k) for v in a]


def product(r: 'double[:, :]', y: 'float[:,:]'):
    return (r * y).sum()


def fill(buf: 'double[:]', v):
    buf[:2] = v
    return buf


def twice(n: int, step):
    return n * step


def doubled(x: 'f8') -> str:
    return x * 2


def local_view():
    w: 'double[:]' = np.arange(3.0)
    w = w * 2
    return w.tolist()


print(scale(np.arange(3), 2))
print(product(np.ones((2, 2)), np.full((2, 2), 0.5)))
print(fill(np.zeros(8), np.array([1.0, 2.0])).tolist())
print(twice(2.5, 2), doubled(1.5), local_view())
"""


def test_annotations_without_c_type_do_not_type_the_build(runner):
    runner.assert_prints_as_cpython("foreign.py", FOREIGN_ANNOTATIONS)


PARAMETER_KINDS = """\
import zel
c = 10


def h(*, c=3):
    return c


def f(*args):
    return args


def k(a: int, /, b: int) -> int:
    return a * 10 + b


def kw(x: int, **kw) -> int:
    return x + len(kw)


def ko(x: float, *, scale: float = 2.0) -> float:
    return x * scale


def d(x: int, n: int = 3) -> int:
    return x * n


print(h(), h(c=5), f(), f(1, 2), k(1, 2), k(3, b=4))
print(kw(1), kw(1, p=2, q=3), ko(1.5), ko(1.5, scale=3.0), d(2), d(2, n=4))
"""


def test_every_kind_of_parameter_is_kept(runner):
    runner.assert_prints_as_cpython("params.py", PARAMETER_KINDS)


# Generic functions: the compiled ones run without their type parameters, which only name types.
TYPE_PARAMETERS = """\
import zel
from collections.abc import Callable


def first[T](items: list[T]) -> T:
    return items[0]


def apply[**P, R](func: Callable[P, R], *args: P.args, **kwargs: P.kwargs) -> R:
    return func(*args, **kwargs)


def scaled[N: (int, float)](x: float, k: int) -> float:
    return x * k


class Stack:
    def __init__(self) -> None:
        self.items = []

    def push[T](self, item: T) -> T:
        self.items.append(item)
        return item


if __name__ == "__main__":
    stack = Stack()
    print(first([3, 1, 2]), first(["a", "b"]), apply(max, 4, 9), scaled(1.5, 3))
    print(stack.push(2.5), stack.items)
"""


@pytest.mark.skipif(sys.version_info < (3, 12), reason="type parameters are Python 3.12 syntax")
def test_functions_with_type_parameters_print_what_cpython_prints(runner):
    runner.assert_prints_as_cpython("generic.py", TYPE_PARAMETERS)


# A function's parameters and locals are its own, the module's names the module's.
SHARED_NAMES = [
    """\
import zel
import numpy as np

n: int = 5
a = np.zeros(n, 'f8')
for i in zel.range(n):
    a[i] = i * 1.0


def triangle(n: int) -> int:
    i: int
    s: int = 0
    for i in range(n):
        s += i
    return s


print(a.tolist(), triangle(4), i)
""",
]


@pytest.mark.parametrize("source", SHARED_NAMES)
def test_names_shared_by_a_function_and_the_module(runner, source):
    runner.assert_prints_as_cpython("shared.py", source)


def test_a_function_local_is_declared_though_the_module_has_the_name(zel_ns):
    text = without_stack_test(emit(zel_ns, rewrite(zel_ns, SHARED_NAMES[0])))
    assert "cdef long long triangle(long long n) nogil:\n    cdef long long i\n" in text


@pytest.mark.parametrize("name", ["double", "long", "complex"])
def test_a_typed_function_named_after_a_c_type(runner, name):
    # The compiler would read the name as part of the C result type: the function stays a def.
    runner.assert_prints_as_cpython(f"{name}s.py", f"""\
import zel


def {name}(i: int) -> int:
    return 2 * i


print({name}(3), {name}.__name__, [{name}(k) for k in range(3)])
""")
