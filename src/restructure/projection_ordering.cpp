// ZELProjection: orders the statements of a projection loop by their data dependencies and
// cuts the order into runs of one reference class and one writer per name, each of which
// becomes a loop of its own.
// It reads only the lists that the projection rewriting puts on every statement: `_assign`
// (names written), `_assign1`, `_assign2`, `_assign3` (those of them written at a "-" and at a
// "+" offset, and at any step), `_ref`, `_ref1`, `_ref2`, `_ref3` (names read at the current
// step, at a "-" and at a "+" offset, and at any step) and `_name` (the statement's label in
// messages).
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "support/objects.hpp"

#include <string>
#include <vector>

namespace zel {
namespace {

// Arguments of exactly the builtin type only, as a compiled signature typed `list` or `dict`
// would take them: None and subclasses are refused too.
void require_exact(const char *name, py::handle value, PyTypeObject *type) {
    if (Py_TYPE(value.ptr()) == type)
        return;
    raise_error(PyExc_TypeError, std::string("Argument '") + name +
                                     "' has incorrect type (expected " + type->tp_name + ", got " +
                                     Py_TYPE(value.ptr())->tp_name + ")");
}

py::object builtin(const char *name) {
    return py::module_::import("builtins").attr(name);
}

// The reference class of a statement: what its loop's direction depends on.
py::str _get_type(py::handle item) {
    if (truthy(item.attr("_ref1")))
        return py::str("REF1");
    if (truthy(item.attr("_ref2")))
        return py::str("REF2");
    return py::str("NONE");
}

// A statement of source text: its expression when it is an expression statement; a text of
// several statements gives the statement list itself.
py::object partial(const Globals &g, py::object cx) {
    py::list body = g["ast"].attr("parse")(cx).attr("body");
    py::object taken = py::len(body) == 1 ? py::object(body[0]) : py::object(body);
    if (is_instance(taken, g["ast"].attr("Expr")))
        return taken.attr("value");
    return taken;
}

// Each written name to the position of its last writer.
py::dict _build_variable_map(py::object, py::object items) {
    require_exact("items", items, &PyList_Type);
    py::dict var_map;
    py::list statements = items;
    for (size_t i = 0; i < py::len(statements); ++i) {
        py::object item = statements[i];
        // One loop cannot run both ways.
        if (truthy(item.attr("_ref1")) && truthy(item.attr("_ref2")))
            raise_error(PyExc_ValueError,
                        "ValueError.3788: `" + text_of(item.attr("_name")) + "`.");
        for (py::handle name : item.attr("_assign"))
            var_map[name] = i;
    }
    return var_map;
}

// The edges: from each writer of a name to its next writer in body order, so that the writers
// of one name keep their written order, and from the last writer of each name a statement
// reads to that statement, which so runs after every writer of the name.
py::tuple _build_dependency_graph(const Globals &g, py::object, py::object items,
                                  py::object var_map) {
    require_exact("items", items, &PyList_Type);
    require_exact("var_map", var_map, &PyDict_Type);
    py::object adj = g["defaultdict"](builtin("list"));
    py::list in_degree;
    for (size_t i = 0; i < py::len(items); ++i)
        in_degree.append(0);
    auto add_edge = [&](py::handle from, size_t to) {
        adj[from].attr("append")(to);
        in_degree[to] = in_degree[to].cast<long long>() + 1;
    };
    py::object set = builtin("set");
    py::dict writer_so_far;
    py::list statements = items;
    for (size_t i = 0; i < py::len(statements); ++i) {
        py::object item = statements[i];
        py::object assign = item.attr("_assign");
        for (py::handle name : assign) {
            if (writer_so_far.contains(name))
                add_edge(writer_so_far[name], i);
            writer_so_far[name] = i;
        }
        py::object names =
            set(item.attr("_ref") + item.attr("_ref1") + item.attr("_ref2") + item.attr("_ref3"));
        for (py::handle name : names) {
            if (assign.contains(name))
                raise_error(PyExc_ValueError, "Circular reference error: `" +
                                                  text_of(item.attr("_name")) + "` refers `" +
                                                  text_of(name) + "`.");
            if (var_map.contains(name))
                add_edge(var_map[name], i);
        }
    }
    return py::make_tuple(adj, in_degree);
}

// Kahn's algorithm, first in first out: statements keep body order among those ready at once.
// A cycle names everything written by the statements that never became ready.
py::list _topological_sort(const Globals &g, py::object, py::object items, py::object adj,
                           py::object in_degree) {
    require_exact("items", items, &PyList_Type);
    require_exact("in_degree", in_degree, &PyList_Type);
    py::list degrees = in_degree;
    auto degree = [&degrees](size_t i) { return degrees[i].cast<long long>(); };
    py::list ready;
    for (size_t i = 0; i < py::len(degrees); ++i)
        if (degree(i) == 0)
            ready.append(i);
    py::object queue = g["deque"](ready);
    std::vector<size_t> order;
    while (truthy(queue)) {
        py::object u = queue.attr("popleft")();
        order.push_back(u.cast<size_t>());
        for (py::handle successor : adj[u]) {
            size_t v = successor.cast<size_t>();
            degrees[v] = degree(v) - 1;
            if (degree(v) == 0)
                queue.attr("append")(v);
        }
    }
    py::list statements = items;
    if (order.size() < py::len(statements)) {
        py::list names;
        for (size_t i = 0; i < py::len(statements); ++i)
            if (degree(i) > 0)
                names.attr("extend")(statements[i].attr("_assign"));
        py::object distinct = builtin("set")(names);
        std::string text = "Circular reference error: " + text_of(builtin("sorted")(distinct)) +
                           "\n" + text_of(distinct);
        raise_error(PyExc_ReferenceError, text);
    }
    py::list sorted_items;
    for (size_t position : order)
        sorted_items.append(statements[position]);
    return sorted_items;
}

// Whether a statement of `group` has one of `names` in its list `written`.
bool group_writes(const py::list &group, py::handle names, const char *written = "_assign") {
    for (py::handle name : names)
        for (py::handle member : group)
            if (member.attr(written).contains(name))
                return true;
    return false;
}

// Whether `item` reads, at the current step or an offset, a name that `group`, a run of
// reference class `kind`, writes at a step its loop may not have reached when `item` reads:
// anywhere, behind the loop variable in a loop counting up, ahead of it in one counting down.
bool reads_unwritten(py::handle item, const py::list &group, const py::str &kind) {
    const char *unreached = kind.equal(py::str("REF2")) ? "_assign2" : "_assign1";
    for (const char *read : {"_ref", "_ref1", "_ref2"})
        if (group_writes(group, item.attr(read), "_assign3") ||
            group_writes(group, item.attr(read), unreached))
            return true;
    return false;
}

// The maximal runs of one reference class, in order. A second writer of a name starts a run of
// its own, so that each writer of the name runs over every step before the next: what it reads
// of the name at other steps is what the writers before it left there, or what it wrote itself.
// So does a statement that reads a name of the run at any step: it reads every step written;
// and one that reads a name the run writes at a step the loop may not have reached yet.
py::list _group_by_ref_type(py::object, py::object sorted_items) {
    require_exact("sorted_items", sorted_items, &PyList_Type);
    py::list statements = sorted_items;
    py::list groups;
    py::list group;
    group.append(statements[0]);
    py::str current = _get_type(statements[0]);
    for (size_t i = 1; i < py::len(statements); ++i) {
        py::object item = statements[i];
        py::str kind = _get_type(item);
        if (!kind.equal(current) || group_writes(group, item.attr("_assign")) ||
            group_writes(group, item.attr("_ref3")) || reads_unwritten(item, group, current)) {
            groups.append(group);
            group = py::list();
            current = kind;
        }
        group.append(item);
    }
    groups.append(group);
    return groups;
}

py::list sort_and_group_s(py::object cls, py::object items) {
    require_exact("items", items, &PyList_Type);
    if (py::len(items) == 0) {
        print_line("fatal.356 NO DATA");
        return py::list();
    }
    py::object var_map = variable_map(cls, items);
    py::tuple graph = dependency_graph(cls, items, var_map);
    py::object sorted_items = topological_order(cls, items, graph[0], graph[1]);
    return reference_groups(cls, sorted_items);
}

} // namespace

py::object make_zel_projection(const Globals &g) {
    ClassBuilder projection(g, "ZELProjection");
    projection.staticmethod("partial", partial, py::arg("cx"));
    projection.classmethod("_build_variable_map", _build_variable_map, py::arg("cls"),
                           py::arg("items"));
    projection.classmethod("_build_dependency_graph", _build_dependency_graph, py::arg("cls"),
                           py::arg("items"), py::arg("var_map"));
    projection.classmethod("_topological_sort", _topological_sort, py::arg("cls"), py::arg("items"),
                           py::arg("adj"), py::arg("in_degree"));
    projection.classmethod("_group_by_ref_type", _group_by_ref_type, py::arg("cls"),
                           py::arg("sorted_items"));
    projection.classmethod("sort_and_group_s", sort_and_group_s, py::arg("cls"), py::arg("items"));
    return projection.build();
}

} // namespace zel
