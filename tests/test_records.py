"""The block record, the symbol records and the rewriting's error class."""
import ast

import pytest


@pytest.fixture
def A(zel_ns):
    return zel_ns.ZELAst


def stmt(src):
    return ast.parse(src).body[0]


def test_nested_classes_follow_the_attributes(A):
    names = list(vars(A))
    start = names.index("inherit_attr") + 1
    assert names[start:start + 4] == ["RestructureError", "BlockInfo", "StructInfo", "VariableInfo"]
    for name in names[start:start + 4]:
        assert getattr(A, name).__qualname__ == "ZELAst." + name
        assert getattr(A, name).__module__ == "zel.zel"
    assert A.BlockInfo.__bases__ == (object,)


@pytest.mark.parametrize("args, message", [((), "ZELAst.Error"), (("bad",), "bad")])
def test_restructure_error(A, args, message):
    error = A.RestructureError(*args)
    assert isinstance(error, Exception)
    assert str(error) == message
    with pytest.raises(A.RestructureError):
        raise error


def tagged_block(A, node, **tags):
    block = A.BlockInfo(node)
    for name, value in tags.items():
        block.set_attr(getattr(A, name), value)
    return block


@pytest.mark.parametrize(
    "src, parent_tags, depth, inherited",
    [
        ("def f(): pass", {"midx": True}, 0, {}),
        ("class C: pass", {"midx": True, "pidx": {"var": 1}}, 0, {}),
        ("async def f(): pass", {"midx": True}, 0, {}),
        ("for i in x: pass", {"midx": True}, 1, {"_mp_block_": True}),
        ("if c: pass", {"pidx": {"var": 1}}, 1, {"_projection_block_": {"var": 1}}),
        ("while c: pass", {"pidx": {}, "midx": False}, 1, {}),
        ("with c: pass", {"pidx": {"p": 2}, "midx": True}, 1,
         {"_projection_block_": {"p": 2}, "_mp_block_": True}),
    ],
)
def test_depth_and_inherited_tags(A, src, parent_tags, depth, inherited):
    parent = tagged_block(A, ast.Module(body=[], type_ignores=[]), **parent_tags)
    block = A.BlockInfo(stmt(src), parent)
    assert block.depth == depth
    tags = {k: v for k, v in vars(block).items() if k in A.inherit_attr}
    assert tags == inherited


def test_depth_counts_up_through_nested_blocks(A):
    module = A.BlockInfo(ast.parse(""))
    loop = A.BlockInfo(stmt("for i in x: pass"), module)
    branch = A.BlockInfo(stmt("if c: pass"), loop)
    assert (module.depth, loop.depth, branch.depth) == (0, 1, 2)
    assert A.BlockInfo(stmt("if c: pass")).depth == 0  # no parent


def test_fields_in_constructor_order(A):
    parent = tagged_block(A, ast.parse(""), midx=True)
    node = stmt("if c: pass")
    block = A.BlockInfo(node, parent)
    assert list(vars(block).items()) == [
        ("name", ""), ("depth", 1), ("_mp_block_", True), ("node", node), ("prev", parent),
        ("symbol", {}), ("index", 0)]
    assert A.BlockInfo(node, parent).symbol is not block.symbol


def test_block_tags_chain_and_read(A):
    block = A.BlockInfo(ast.parse(""))
    assert block.set_name("f") is block and block.name == "f"
    assert block.set_attr(A.midx, True) is block and block.get_attr(A.midx) is True
    assert block.get_attr("_nothing_") is None
    assert block.get_proj() is None
    proj = {"var": ast.Name("t")}
    assert block.set_proj(proj) is block
    inner = A.BlockInfo(stmt("if c: pass"), block)
    assert inner.get_proj() is proj
    assert getattr(inner, A.pidx) is proj


def test_qualified_names(A):
    module = A.BlockInfo(ast.parse(""))
    f = A.BlockInfo(stmt("def f(): pass"), module).set_name("f")
    loop = A.BlockInfo(stmt("for i in x: pass"), f)
    g = A.BlockInfo(stmt("def g(): pass"), loop).set_name("g")
    assert [b.get_name() for b in (module, f, loop, g)] == ["", "_f", "_f", "_f_g"]


@pytest.fixture
def chain(A):
    """A module block binding m to an import, a function block binding x, a loop inside it."""
    module = A.BlockInfo(ast.parse(""))
    imp = stmt("import m")
    module.set_symbol("m", imp)
    func = A.BlockInfo(stmt("def f(): pass"), module)
    var = A.VariableInfo(stmt("x: int = 1"), "long long")
    func.set_symbol(ast.Name("x"), var)
    loop = A.BlockInfo(stmt("for i in x: pass"), func)
    return module, func, loop, imp, var


def test_get_symbol(A, chain):
    module, func, loop, imp, var = chain
    assert loop.get_symbol("x") == (var, "x")
    assert loop.get_symbol(ast.Name("x")) == (var, "x")
    assert loop.get_symbol("m") == (imp, "m")
    assert loop.get_symbol("y") == (None, "y")
    assert loop.get_symbol("m", A.VariableInfo) == (None, None)
    assert loop.get_symbol("x", A.VariableInfo) == (var, "x")
    assert loop.get_symbol(ast.Constant(1)) == (None, None)
    assert loop.get_symbol(None) == (None, None)
    assert module.get_symbol("x") == (None, "x")  # bound in a nested block only


def test_innermost_binding_wins(A, chain):
    module, func, loop, imp, var = chain
    inner = stmt("m = 2")
    loop.set_symbol("m", inner)
    assert loop.get_symbol("m") == (inner, "m")
    assert func.get_symbol("m") == (imp, "m")


def test_set_symbol_ignores_other_keys(A):
    block = A.BlockInfo(ast.parse(""))
    block.set_symbol(ast.Attribute(ast.Name("a"), "b"), stmt("pass"))
    block.set_symbol(None, stmt("pass"))
    assert block.symbol == {}


def test_insert_stmt_goes_before_the_walked_statement_of_the_depth0_block(A):
    func_node = stmt("def f():\n a = 0\n b = 1\n for i in x:\n  pass\n")
    module = A.BlockInfo(ast.parse(""))
    func = A.BlockInfo(func_node, module)
    func.index = 2
    loop_node = func_node.body[2]
    body = A.BlockInfo(loop_node, func)
    nested = A.BlockInfo(stmt("if c: pass"), body)
    first, second = stmt("first = 1"), stmt("second = 2")
    body.insert_stmt(first)
    nested.insert_stmt(second)
    assert func_node.body[2:] == [second, first, loop_node]
    assert func.index == 2


def test_get_root_and_is_view(A, chain):
    module, func, loop, imp, var = chain
    assert loop.get_root() is module and module.get_root() is module
    view = A.VariableInfo(stmt("a = z"), call=ast.Tuple([ast.Constant(3), ast.Name("double")]))
    func.set_symbol("a", view)
    assert loop.is_view("a") == (view.view, view.shape)
    assert loop.is_view("m") == (None, None)
    assert loop.is_view("nope") == (None, None)


def test_variable_info_fields(A):
    node = stmt("x: int = 1")
    info = A.VariableInfo(node, "long long")
    assert list(vars(info).items()) == [
        ("org_node", node), ("name", None), ("view", None), ("is_struct_view", False),
        ("shape", None), ("dt", None), ("cdf", "long long")]
    assert A.VariableInfo(node, is_struct_view=True).is_struct_view is True


@pytest.mark.parametrize(
    "make_call, view, shape, dt",
    [
        (lambda A, s, e: ast.Tuple([s, e]), "elt", "shape", None),
        (lambda A, s, e: ast.Tuple([s, e, e]), None, None, None),
        (lambda A, s, e: (s, e), None, None, None),  # a Python tuple is not a description
        (lambda A, s, e: "text", None, None, None),
        (lambda A, s, e: A.StructInfo("_f"), None, None, "struct"),
    ],
)
def test_variable_info_call_description(A, make_call, view, shape, dt):
    s, e = ast.Constant(10), ast.Name("double")
    call = make_call(A, s, e)
    info = A.VariableInfo(stmt("a = f()"), "x", call)
    expect = {"elt": e, "shape": s, "struct": call, None: None}
    assert (info.view, info.shape, info.dt) == (expect[view], expect[shape], expect[dt])


def test_struct_info(A):
    info = A.StructInfo("s")
    eight = ast.Constant(8)
    assert info.add("a", "int") is None
    info.add("b", "char", eight)
    assert (info.name, info.var, info.typ, info.shp) == ("s", ["a", "b"], ["int", "char"], [None, eight])


def test_get_symbol_survives_an_entry_that_changes_the_table(A):
    block = A.BlockInfo(ast.parse(""))

    class Vanishing:
        def __bool__(self):
            block.symbol.clear()  # drops the table's reference to this entry
            return True

    block.symbol["x"] = Vanishing()
    entry, name = block.get_symbol("x")
    assert isinstance(entry, Vanishing) and name == "x"


@pytest.mark.parametrize("error", [MemoryError, KeyboardInterrupt, ValueError])
def test_tag_reads_let_every_error_but_attribute_error_through(A, error):
    class Failing(A.BlockInfo):
        @property
        def _mp_block_(self):
            raise error("from the tag")

    block = Failing(ast.parse(""))
    with pytest.raises(error, match="from the tag"):
        block.get_attr(A.midx)
    assert A.BlockInfo(ast.parse("")).get_attr(A.midx) is None
