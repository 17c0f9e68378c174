"""ZELProjection: the statements of a projection body ordered by dependency and cut into groups."""
import ast
import collections

import pytest


def statement(line):
    """A body statement from "w1 -w2 <- r -r1 +r2 *r3": names written, then names read at the
    current step, behind (-) and ahead (+) of the loop variable, and at any step (*); a written
    name is marked so where it is written."""
    written, _, read = line.partition("<-")
    node = ast.Pass()
    node._assign = [n.lstrip("-+*") for n in written.split()]
    node._assign1 = [n[1:] for n in written.split() if n[0] == "-"]
    node._assign2 = [n[1:] for n in written.split() if n[0] == "+"]
    node._assign3 = [n[1:] for n in written.split() if n[0] == "*"]
    node._ref = [n for n in read.split() if n[0] not in "-+*"]
    node._ref1 = [n[1:] for n in read.split() if n[0] == "-"]
    node._ref2 = [n[1:] for n in read.split() if n[0] == "+"]
    node._ref3 = [n[1:] for n in read.split() if n[0] == "*"]
    node._name = None
    return node


def body(*lines):
    return [statement(line) for line in lines]


def positions(items, result):
    return [items.index(node) for node in result]


@pytest.mark.parametrize(
    "lines, order",
    [
        (["a <-", "b <-", "c <-"], [0, 1, 2]),
        (["b <- a", "a <-"], [1, 0]),
        # A reader runs after every writer of a name; the writers keep their written order.
        (["x <-", "y <- x", "x <-"], [0, 2, 1]),
        (["x <- y", "y <-", "x <-"], [1, 0, 2]),
        (["z <- x", "x <- y", "y <-", "x <-"], [2, 1, 3, 0]),
        (["c <- a b", "a <-", "b <-"], [1, 2, 0]),
        # Statements that become ready keep the order in which they did.
        (["d <- c", "c <- a", "a <-", "e <-"], [2, 3, 1, 0]),
        (["y <- -x", "x <- +z", "z <-"], [2, 1, 0]),
        # A name nobody writes adds no edge.
        (["a <- q", "b <- a"], [0, 1]),
        # So does a read at any step.
        (["b <- *a", "a <-"], [1, 0]),
        (["c <- *b", "b <- -a", "a <-"], [2, 1, 0]),
    ],
)
def test_sorted_order(zel_ns, lines, order):
    items = body(*lines)
    adj, in_degree = zel_ns.ZELProjection._build_dependency_graph(
        items, zel_ns.ZELProjection._build_variable_map(items))
    result = zel_ns.ZELProjection._topological_sort(items, adj, in_degree)
    assert positions(items, result) == order


@pytest.mark.parametrize(
    "lines, sizes",
    [
        (["a <-", "b <- a", "c <- b"], [3]),
        (["a <-", "b <- -x", "c <- -x", "d <- b"], [1, 2, 1]),
        (["a <- -x", "b <- +x", "c <- -x"], [1, 1, 1]),
        (["a <- +x", "b <- +x c"], [2]),
        # A second writer of a name starts a run of its own.
        (["a <-", "a <-"], [1, 1]),
        (["a b <-", "c <- a", "b <-", "d <- b"], [2, 2]),
        # So does a reader at any step of a name the run writes, in whichever direction.
        (["a <-", "b <- *a"], [1, 1]),
        (["a <-", "c <- a", "b <- *a"], [2, 1]),
        (["a <- -x", "b <- -x *a"], [1, 1]),
        (["a <- +x", "b <- +x *a"], [1, 1]),
        # A name nobody writes, or one that an earlier run writes, splits nothing.
        (["a <-", "b <- *q"], [2]),
        (["a <-", "b <- -x", "c <- -x *a"], [1, 2]),
        # A reader at any offset of a name the run writes at any step starts a run of its own.
        (["*a <-", "b <- a"], [1, 1]),
        (["*a <- -x", "b <- -a"], [1, 1]),
        (["*a <- +x", "b <- +a"], [1, 1]),
        (["*a c <-", "d <- c", "b <- a"], [2, 1]),
        # So does one of a name written behind the loop variable in a run counting up, or ahead
        # of it in one counting down: the loop has not reached that step yet.
        (["-a <-", "b <- a"], [1, 1]),
        (["-a <- -x", "b <- -x a"], [1, 1]),
        (["-a <- -x", "b <- -a"], [1, 1]),
        (["+a <- +x", "b <- +x a"], [1, 1]),
        (["+a <- +x", "b <- +a"], [1, 1]),
        # Written ahead in a run counting up, or behind in one counting down, the step read has
        # been written.
        (["+a <-", "b <- a"], [2]),
        (["+a <- -x", "b <- -a"], [2]),
        (["-a <- +x", "b <- +x a"], [2]),
        (["-a <- +x", "b <- +a"], [2]),
        # A name written at the loop variable, or read where nobody writes it, splits nothing.
        (["a <- -x", "b <- -a"], [2]),
        (["-a <-", "b <- q"], [2]),
    ],
)
def test_groups_are_runs_of_one_reference_class(zel_ns, lines, sizes):
    items = body(*lines)
    groups = zel_ns.ZELProjection.sort_and_group_s(items)
    assert [len(g) for g in groups] == sizes
    assert [node for g in groups for node in g] == items


def test_writer_after_its_reader_moves_before_it(zel_ns):
    items = body("b <- a", "a <-")
    assert zel_ns.ZELProjection.sort_and_group_s(items) == [[items[1], items[0]]]


def test_empty_body_reports_no_data(zel_ns, capsys):
    assert zel_ns.ZELProjection.sort_and_group_s([]) == []
    assert capsys.readouterr().out == "fatal.356 NO DATA\n"


def test_graph_edges_from_last_writer(zel_ns):
    items = body("a b <-", "c <- a b", "d <- c a")
    var_map = zel_ns.ZELProjection._build_variable_map(items)
    assert var_map == {"a": 0, "b": 0, "c": 1, "d": 2}
    adj, in_degree = zel_ns.ZELProjection._build_dependency_graph(items, var_map)
    assert isinstance(adj, collections.defaultdict)
    # Two names of one writer give two parallel edges.
    assert dict(adj) == {0: [1, 1, 2], 1: [2]} and in_degree == [0, 2, 2]
    zel_ns.ZELProjection._topological_sort(items, adj, in_degree)
    assert in_degree == [0, 0, 0]


def test_graph_chains_the_writers_of_a_name(zel_ns):
    items = body("x <-", "y <- x", "x <- z", "z <-")
    adj, in_degree = zel_ns.ZELProjection._build_dependency_graph(
        items, zel_ns.ZELProjection._build_variable_map(items))
    # The first writer of x before the second; the reader of x after the second.
    assert dict(adj) == {0: [2], 2: [1], 3: [2]} and in_degree == [0, 1, 2, 0]
    result = zel_ns.ZELProjection._topological_sort(items, adj, in_degree)
    assert positions(items, result) == [0, 3, 2, 1]


def test_cycle_names_everything_that_never_became_ready(zel_ns):
    items = body("a <- b", "b <- a", "c <- a", "d <-")
    with pytest.raises(ReferenceError) as error:
        zel_ns.ZELProjection.sort_and_group_s(items)
    # The set is shown in its own order, as the interpreter displays it.
    sorted_names, name_set = str(error.value).split("\n")
    assert sorted_names == "Circular reference error: ['a', 'b', 'c']"
    assert name_set.startswith("{") and eval(name_set) == {"a", "b", "c"}


@pytest.mark.parametrize("lines", [["b <- *a", "a <- b"], ["b <- *a", "a <- *b"],
                                   ["b <- *a", "a <- +b"], ["b <- *a c", "c <-", "a <- -b"]])
def test_read_at_any_step_in_a_cycle_is_refused(zel_ns, lines):
    with pytest.raises(ReferenceError) as error:
        zel_ns.ZELProjection.sort_and_group_s(body(*lines))
    assert str(error.value).split("\n")[0] == "Circular reference error: ['a', 'b']"


def test_reading_behind_and_ahead_is_refused_before_the_graph(zel_ns):
    items = body("a <- a", "b <- -x +y")
    with pytest.raises(ValueError) as error:
        zel_ns.ZELProjection.sort_and_group_s(items)
    assert str(error.value) == "ValueError.3788: `None`."


def test_statement_reading_what_it_writes(zel_ns):
    items = body("a <-", "b <- b")
    items[1]._name = "s1"
    with pytest.raises(ValueError) as error:
        zel_ns.ZELProjection.sort_and_group_s(items)
    assert str(error.value) == "Circular reference error: `s1` refers `b`."


class ListLike(list):
    pass


class DictLike(dict):
    pass


@pytest.mark.parametrize(
    "method, args, bad",
    [
        ("sort_and_group_s", [None], "items"),
        ("sort_and_group_s", [()], "items"),
        ("sort_and_group_s", [ListLike()], "items"),
        ("_build_variable_map", [ListLike()], "items"),
        ("_build_dependency_graph", [ListLike(), {}], "items"),
        ("_build_dependency_graph", [[], DictLike()], "var_map"),
        ("_build_dependency_graph", [[], None], "var_map"),
        ("_topological_sort", [(), {}, []], "items"),
        ("_topological_sort", [[], {}, (0,)], "in_degree"),
        ("_group_by_ref_type", [None], "sorted_items"),
    ],
)
def test_arguments_of_exactly_list_or_dict(zel_ns, method, args, bad):
    with pytest.raises(TypeError, match=f"'{bad}'"):
        getattr(zel_ns.ZELProjection, method)(*args)


@pytest.mark.parametrize(
    "source, expected",
    [
        ("range(x-1,-1,-1)", ast.Call(
            ast.Name("range", ast.Load()),
            [ast.BinOp(ast.Name("x", ast.Load()), ast.Sub(), ast.Constant(1)),
             ast.UnaryOp(ast.USub(), ast.Constant(1)), ast.UnaryOp(ast.USub(), ast.Constant(1))],
            [])),
        ("x = 1", ast.Assign([ast.Name("x", ast.Store())], ast.Constant(1))),
    ],
)
def test_partial_gives_the_expression_or_statement(zel_ns, source, expected):
    # Compared as dumps of the interpreter's own making, which differ between its versions.
    assert ast.dump(zel_ns.ZELProjection.partial(source)) == ast.dump(expected)


def test_partial_of_several_statements_gives_the_list(zel_ns):
    taken = zel_ns.ZELProjection.partial("a = 1\nb")
    assert isinstance(taken, list) and [type(s) for s in taken] == [ast.Assign, ast.Expr]
