"""The rewriting's work grows in proportion to the script: counted, not timed.

Two things the rewriting does all the time are counted from outside: the nodes that `ast.walk`
visits (each costs one `ast.iter_child_nodes`) and the tests of a node's kind against the
statement kinds below (`isinstance`, which asks the class). Doubling a script may double both
counts, give or take, never more.
"""
import ast

import pytest

from conftest import load_classes
from pyx_helpers import rewrite

# Statement kinds whose kind tests are counted: kinds the rewriting never assigns as the class
# of an existing node, so a node it makes of one is a real node of that kind.
COUNTED_KINDS = ["FunctionDef", "For", "AnnAssign", "Global", "Nonlocal", "arg", "alias"]
GROWTH_PER_DOUBLING = 2.2


def annotated_script(lines: int) -> str:
    """Module-level declarations, calls and loops whose bodies declare names, with functions."""
    out = ["import numpy", "", "def scaled(v: float) -> float:", "    return v * 2.0", ""]
    for k in range(lines // 5):
        out += [f"a{k}: int = {k}", f"b{k}: float = scaled(a{k} * 0.5)", f"c{k}: 'i4' = 2",
                f"for i{k} in range(3):", f"    d{k}: float = b{k} + i{k}"]
    return "\n".join(out) + "\n"


def typed_function(loops: int, one_name: bool) -> str:
    """A fully typed function of `loops` loops, over one index name or a name of their own."""
    out = ["import numpy", "", "def total(n: int, x: (0, 'f8')) -> 'f8':", "    s: 'f8' = 0.0"]
    for k in range(loops):
        index = "i" if one_name else f"i{k}"
        out += [f"    for {index} in range(n):", f"        s += x[{index}] * {k}"]
    out += ["    return s"]
    return "\n".join(out) + "\n"


class WorkCounter:
    """Counts node visits of ast.walk and kind tests against COUNTED_KINDS while it is active."""

    def __init__(self, monkeypatch):
        self.count = 0
        visit = ast.iter_child_nodes

        def counted_children(node):
            self.count += 1
            return visit(node)

        monkeypatch.setattr(ast, "iter_child_nodes", counted_children)
        counter = self

        for kind in COUNTED_KINDS:
            real = getattr(ast, kind)

            class CountedKind(type(real)):
                def __instancecheck__(cls, instance, real=real):
                    counter.count += 1
                    return isinstance(instance, real)

            monkeypatch.setattr(ast, kind, CountedKind(kind, (real,), {"__module__": "ast"}))


def rewriting_work(monkeypatch, source: str) -> int:
    """The work of rewriting `source` with a fresh set of classes."""
    zel_ns = load_classes()
    tree = ast.parse(source)  # parsed with the real classes, before any is replaced
    with monkeypatch.context() as patch:
        counter = WorkCounter(patch)
        zel_ns.ZELAst.restruct(tree)
    return counter.count


@pytest.mark.parametrize(
    "make, size",
    [
        (annotated_script, 500),
        (lambda loops: typed_function(loops, one_name=False), 100),
        (lambda loops: typed_function(loops, one_name=True), 100),
    ],
    ids=["module lines", "typed function, a name per loop", "typed function, one loop name"],
)
def test_rewriting_work_is_linear_in_the_script(monkeypatch, make, size):
    small = rewriting_work(monkeypatch, make(size))
    large = rewriting_work(monkeypatch, make(2 * size))
    assert small > 0
    assert large / small <= GROWTH_PER_DOUBLING, (small, large)


def test_the_counted_script_is_rewritten_as_without_counting(monkeypatch):
    source = typed_function(3, one_name=False)
    counted = ast.parse(source)
    with monkeypatch.context() as patch:
        WorkCounter(patch)
        load_classes().ZELAst.restruct(counted)
    plain = rewrite(load_classes(), source)
    assert ast.unparse(counted) == ast.unparse(plain)
