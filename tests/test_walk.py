"""The tree walk: dispatch by node kind, the list walk with its marks and insertion index,
and the generic descent with a block of its own for every body and else-branch."""
import ast
import textwrap

import pytest

# A node of each kind that has a rewriting method: the module's first statement, or its value.
EXAMPLES = {
    "Attribute": "a.b", "Call": "f(x)", "Name": "x", "For": "for i in x: pass",
    "Assign": "x = 1", "FunctionDef": "def f(): pass", "Subscript": "a[0]",
    "AnnAssign": "x: int = 1", "AugAssign": "x += 1", "Compare": "a < b",
    "Import": "import os", "ImportFrom": "from os import path", "Return": "return x",
}


@pytest.fixture
def A(zel_ns):
    return zel_ns.ZELAst


@pytest.fixture
def kinds(A):
    """The node kinds of the dispatch table."""
    return [cls.__name__ for cls in A.rewriting_methods]


def test_dispatch_table(A, kinds):
    assert sorted(kinds) == sorted(EXAMPLES)  # every kind of the table is tried below
    for cls, method in A.rewriting_methods.items():
        assert cls is getattr(ast, cls.__name__) and method == "reform_" + cls.__name__
        assert hasattr(A, method)
    with pytest.raises(TypeError):
        A.rewriting_methods[ast.Pass] = "reform_Pass"


def parse(src):
    return ast.parse(textwrap.dedent(src))


def record(A, kind, log, descend=False):
    """Replaces the rewriting method of `kind` by one that logs (node, block, index)."""
    def method(cls, node, ci):
        log.append((node, ci, ci.index))
        if descend:
            cls.reform_rest(node, ci)
    setattr(A, "reform_" + kind, classmethod(method))


def names_seen(log):
    return [node.id for node, _, _ in log]


@pytest.mark.parametrize("kind, src", EXAMPLES.items())
def test_dispatch_by_node_kind(A, kinds, kind, src):
    logs = {k: [] for k in kinds + ["rest"]}
    for k in kinds:
        record(A, k, logs[k])
    top = ast.parse(src).body[0]
    node = top.value if isinstance(top, ast.Expr) else top
    ci = A.BlockInfo(ast.parse(""))
    assert A.reform_Stmt(node, ci) is None
    assert [n for n, _, _ in logs[kind]] == [node]
    assert all(not log for k, log in logs.items() if k != kind)


def test_subclass_instances_dispatch_like_their_base(A):
    class MyName(ast.Name):
        pass
    log = []
    record(A, "Name", log)
    node = MyName("x")
    A.reform_Stmt(node, A.BlockInfo(ast.parse("")))
    assert log[0][0] is node


def test_a_method_replaced_after_its_kind_was_met_is_used(A):
    first, second = [], []
    ci = A.BlockInfo(ast.parse(""))
    record(A, "Name", first)
    A.reform_Stmt(ast.Name("a"), ci)
    record(A, "Name", second)
    A.reform_Stmt(ast.Name("b"), ci)
    assert names_seen(first) == ["a"] and names_seen(second) == ["b"]


def test_missing_rewriting_method_takes_the_generic_descent(A, kinds):
    for kind in kinds:
        if hasattr(A, "reform_" + kind):
            delattr(A, "reform_" + kind)
    tree = parse("""
        for i in x:
            pass
        else:
            pass
    """)
    seen = []
    original = A.reform_list
    A.reform_list = classmethod(lambda cls, n, ci: (seen.append((n, ci)), original(n, ci)))
    A.restruct(tree)
    loop = tree.body[0]
    lists = [n for n, _ in seen]
    assert lists == [tree.body, loop.body, loop.orelse]
    root, body_block, else_block = (ci for _, ci in seen)
    assert body_block.node is loop and else_block.node is loop
    assert body_block.prev is root and body_block is not else_block
    assert body_block.depth == 1


def test_a_method_added_later_is_used(A):
    tree = parse("for i in x: pass")
    log = []
    record(A, "For", log)
    A.restruct(tree)
    assert [n for n, _, _ in log] == [tree.body[0]]
    assert not getattr(tree.body[0].body[0], A.dup_chk_idx, False)  # body left to the method


def test_tuple_is_not_a_list(A):
    log = []
    record(A, "Name", log)
    seen = []
    original = A.reform_list
    A.reform_list = classmethod(lambda cls, n, ci: (seen.append(n), original(n, ci)))
    A.reform_Stmt((ast.Name("a"),), A.BlockInfo(ast.parse("")))
    assert not seen and not log  # a tuple value has no attributes to descend into


def test_restruct_returns_the_tree_and_walks_the_body_once(A):
    tree = parse("a\nb\n")
    log = []
    record(A, "Name", log)
    assert A.restruct(tree) is tree
    assert names_seen(log) == ["a", "b"]
    root = log[0][1]
    assert isinstance(root, A.BlockInfo) and root.node is tree and root.prev is None
    assert root.index == 0 and root.curr is None
    assert all(getattr(s, A.dup_chk_idx) is True for s in tree.body)
    A.restruct(tree)
    assert names_seen(log) == ["a", "b"]  # marked statements are not walked again


def test_empty_module(A):
    tree = ast.parse("")
    seen = []
    original = A.reform_list
    A.reform_list = classmethod(lambda cls, n, ci: (seen.append(ci), original(n, ci)))
    A.restruct(tree)
    assert seen[0].index == 0 and tree.body == []


def test_list_walk_counts_text_none_and_marked_elements(A):
    a, b, c = ast.Name("a"), ast.Name("b"), ast.Name("c")
    setattr(b, A.dup_chk_idx, True)
    items = [a, "text", None, b, c]
    log = []
    record(A, "Name", log)
    ci = A.BlockInfo(ast.Module(body=items, type_ignores=[]))
    A.reform_list(items, ci)
    assert [(n.id, index) for n, _, index in log] == [("a", 0), ("c", 4)]
    assert getattr(a, A.dup_chk_idx) is True and getattr(c, A.dup_chk_idx) is True
    assert (ci.index, ci.curr) == (0, None)


def test_element_is_marked_and_current_before_its_rewriting(A):
    a = ast.Name("a")
    states = []
    def method(cls, node, ci):
        states.append((getattr(node, A.dup_chk_idx, False), ci.curr is node))
    A.reform_Name = classmethod(method)
    A.reform_list([a], A.BlockInfo(ast.parse("")))
    assert states == [(True, True)]


def test_global_names_are_counted_but_not_marked(A):
    tree = parse("global a, b\n")
    A.restruct(tree)
    assert tree.body[0].names == ["a", "b"]
    assert getattr(tree.body[0], A.dup_chk_idx) is True


def test_statements_inserted_during_the_walk(A):
    """Two declarations inserted while the statement at k is walked: the first inserted lands
    at k+1 and is walked, the second at k is not, the statement itself is skipped."""
    tree = parse("a\nb\nc\n")
    first, second = ast.Expr(ast.Name("first")), ast.Expr(ast.Name("second"))
    log = []
    def method(cls, node, ci):
        log.append((node.id, ci.index))
        if node.id == "b":
            ci.insert_stmt(first)
            ci.insert_stmt(second)
    A.reform_Name = classmethod(method)
    A.restruct(tree)
    assert [s.value.id for s in tree.body] == ["a", "second", "first", "b", "c"]
    assert log == [("a", 0), ("b", 1), ("first", 2), ("c", 4)]
    assert not hasattr(second, A.dup_chk_idx)


def test_appended_elements_are_seen(A):
    tree = parse("a\n")
    log = []
    def method(cls, node, ci):
        log.append(node.id)
        if node.id == "a":
            tree.body.append(ast.Expr(ast.Name("late")))
    A.reform_Name = classmethod(method)
    A.restruct(tree)
    assert log == ["a", "late"]


def test_nested_lists_keep_the_insertion_point(A):
    """Lists inside a statement walked with the same block (arguments, handlers, a final
    block) leave the block's index alone: a declaration from anywhere inside the statement
    lands directly before it."""
    tree = parse("""
        import zel
        x = 0
        y = 1
        try:
            pass
        except E:
            pass
        finally:
            a
            b
            if c:
                d
        """)
    try_node = tree.body[3]
    declaration = ast.Expr(ast.Constant("declaration"))
    log = []
    def method(cls, node, ci):
        log.append((node.id, ci.get_root().index, ci.get_root().curr is try_node))
        if node.id == "d":
            ci.insert_stmt(declaration)
    A.reform_Name = classmethod(method)
    for kind in ("Assign", "Import"):  # plain descent for the statements around
        setattr(A, "reform_" + kind, classmethod(lambda cls, node, ci: None))
    A.restruct(tree)
    assert tree.body.index(declaration) == 3 and tree.body[4] is try_node
    assert [entry for entry in log if entry[0] in "abcd"] == [
        ("a", 3, True), ("b", 3, True), ("c", 3, True), ("d", 3, True)]


def test_generic_descent_gives_body_and_orelse_blocks_of_their_own(A):
    tree = parse("""
        if t:
            x
        else:
            y
        """)
    log = []
    record(A, "Name", log)
    A.restruct(tree)
    by_name = {n.id: ci for n, ci, _ in log}
    root = by_name["t"]
    assert root.node is tree
    assert by_name["x"].prev is root and by_name["y"].prev is root
    assert by_name["x"] is not by_name["y"]
    assert by_name["x"].node is tree.body[0] and by_name["x"].depth == 1


def test_conditional_expression_branches_get_blocks(A):
    ifexp = ast.parse("a if c else b", mode="eval").body
    log = []
    record(A, "Name", log)
    ci = A.BlockInfo(ast.parse(""))
    A.reform_Stmt(ifexp, ci)
    by_name = {n.id: block for n, block, _ in log}
    assert names_seen(log) == ["c", "a", "b"]  # field order: test, body, orelse
    assert by_name["c"] is ci
    assert by_name["a"].prev is ci and by_name["b"].prev is ci and by_name["a"] is not by_name["b"]


def test_empty_orelse_gets_no_block(A):
    tree = parse("while t:\n    x\n")
    made = []
    original = A.BlockInfo
    class Counting(original):
        def __init__(self, node, prev=None):
            made.append(node)
            super().__init__(node, prev)
    A.BlockInfo = Counting
    A.restruct(tree)
    assert made == [tree, tree.body[0]]


@pytest.mark.parametrize("src", ["class C:\n    x\n", "async def f():\n    x\n"])
def test_class_and_async_function_bodies_start_depth0(A, src):
    tree = parse(src)
    log = []
    record(A, "Name", log)
    root = A.BlockInfo(tree).set_attr(A.midx, True)
    A.reform_Stmt(tree.body, root)
    block = log[0][1]
    assert block.depth == 0 and block.prev is root and block.get_attr(A.midx) is None


def test_tags_and_ignored_attributes_are_not_walked(A):
    node = ast.parse("t", mode="eval").body
    node = ast.UnaryOp(ast.Not(), node)
    node._tag_ = ast.Name("tag")
    for field in A.ignore_attr:
        setattr(node, field, ast.Name(field))
    log = []
    record(A, "Name", log)
    A.reform_Stmt(node, A.BlockInfo(ast.parse("")))
    assert names_seen(log) == ["t"]


def test_falsy_and_plain_values_are_skipped(A):
    ci = A.BlockInfo(ast.parse(""))
    for value in (None, "", "text", 0, 3, 1.5, b"x", ast.Load()):
        assert A.reform_rest(value, ci) is None
        assert A.reform_Stmt(value, ci) is None


def test_attributes_are_walked_in_field_order_with_the_enclosing_block(A):
    node = ast.parse("f(a, *b, k=c)", mode="eval").body
    log = []
    record(A, "Name", log)
    ci = A.BlockInfo(ast.parse(""))
    A.reform_rest(node, ci)
    assert names_seen(log) == ["f", "a", "b", "c"]
    assert {id(block) for _, block, _ in log} == {id(ci)}


def test_a_childs_rewriting_may_change_the_attributes_ahead(A):
    node = ast.parse("(a, b)", mode="eval").body
    holder = ast.BinOp(node, ast.Add(), ast.Name("right"))
    log = []
    def method(cls, n, ci):
        log.append(n.id)
        if n.id == "a":
            holder.right = ast.Name("replaced")
            holder.extra = ast.Name("new")  # set after the descent started: not walked
    A.reform_Name = classmethod(method)
    A.reform_rest(holder, A.BlockInfo(ast.parse("")))
    assert log == ["a", "b", "replaced"]


SCRIPT = """
import os
from collections import deque as dq
import numpy as np
x: int = 1
y = [i * 2 for i in range(3) if i]
z = {**{}, 'k': 1}
f = lambda *, a, b=2: a + b
async def g(*, k):
    async with ctx() as c:
        async for v in c:
            await v
class K(Base, metaclass=M):
    attr = 1
    def m(self, /, q, *args, r, **kw) -> None:
        global glob
        nonlocal_ = (yield q)
try:
    pass
except (ValueError, TypeError) as e:
    raise
else:
    pass
finally:
    del x
match y:
    case [1, *rest] if rest:
        pass
    case {"k": v, **others}:
        pass
    case K(attr=1) | None:
        pass
with open("f") as fh, open("g"):
    print(f"{x!r:>{w}}", sep="")
while x < 3 <= y:
    x += 1
    break
else:
    assert x, "msg"
"""


def test_a_whole_script_walks(A):
    tree = ast.parse(SCRIPT)
    assert A.restruct(tree) is tree
    assert all(getattr(s, A.dup_chk_idx) is True for s in tree.body)
    source = ast.unparse(tree)
    assert "import numpy as np" in source
