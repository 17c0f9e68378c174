// The range test of a loop: one test before the loop that the whole range of its index fits
// every typed array the body reads or writes, standing for the per-access bounds checks,
// which Cython's directives then switch off for the loop. A parallel loop raises where the
// test fails; a projection loop runs a checked copy of itself there.
#include "restructure/range_test.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/repeated_reads.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/text.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zel {
namespace {

// Offsets that the range test can add to a bound or to an extent without leaving the range of
// a C integer, whatever the bound: anything larger is not taken for a constant offset.
constexpr long long largest_offset = 1LL << 31;

// The constant offset c of an index `var`, `var + c`, `c + var` or `var - c`, or nothing.
std::optional<long long> offset_from(const py::object &index, const py::object &var) {
    auto is_var = [&](const py::object &node) {
        return is_a(node, "Name") && py_equal(node.attr("id"), var);
    };
    auto constant = [](const py::object &node) -> std::optional<long long> {
        if (!is_a(node, "Constant") || !PyLong_CheckExact(node.attr("value").ptr()))
            return std::nullopt;
        int overflow = 0;
        long long value = PyLong_AsLongLongAndOverflow(node.attr("value").ptr(), &overflow);
        if (overflow || value > largest_offset || value < -largest_offset)
            return std::nullopt;
        return value;
    };
    if (is_var(index))
        return 0;
    if (!is_a(index, "BinOp"))
        return std::nullopt;
    py::object left = index.attr("left"), right = index.attr("right"), op = index.attr("op");
    if (is_a(op, "Add") && is_var(left))
        return constant(right);
    if (is_a(op, "Add") && is_var(right))
        return constant(left);
    if (is_a(op, "Sub") && is_var(left)) {
        std::optional<long long> c = constant(right);
        return c ? std::optional<long long>(-*c) : std::nullopt;
    }
    return std::nullopt;
}

// The source of `expression` plus the constant `offset`.
std::string with_offset(const std::string &expression, long long offset) {
    if (offset == 0)
        return expression;
    return expression + (offset > 0 ? " + " : " - ") +
           std::to_string(offset > 0 ? offset : -offset);
}

// Whether running the statement may end the iteration before the statements after it.
bool may_leave_iteration(py::handle statement) {
    for (py::handle item : walk_tree(statement))
        if (is_a(item, "Break") || is_a(item, "Continue") || is_a(item, "Return") ||
            is_a(item, "Raise"))
            return true;
    return false;
}

// The subscripts of a loop body and the names it stores, each subscript with whether every
// iteration evaluates it: not when a condition, an `and`/`or`, a later comparison of a chain,
// a loop that may not run, an exception handler or an earlier exit from the iteration stands
// between the body and the subscript.
class BodyAccesses {
  public:
    struct Access {
        py::object subscript;
        bool every_iteration;
    };
    std::vector<Access> subscripts;
    std::set<std::string> stored;
    // The names some iteration assigns, each with the first assignment of it, and those every
    // iteration assigns; the targets of in-place updates (reductions) are in neither, but in
    // `updated`.
    std::map<std::string, py::object> stored_by_some;
    std::set<std::string> stored_by_every;
    std::set<std::string> updated;

    explicit BodyAccesses(const py::object &body) { statements(body, true); }

  private:
    void statements(const py::handle &list, bool always) {
        for (py::handle statement : list) {
            visit(statement, always);
            always = always && !may_leave_iteration(statement);
        }
    }

    void each(const py::handle &list, bool always) {
        for (py::handle item : list)
            visit(item, always);
    }

    void field(const py::handle &node, const char *name, bool always) {
        py::object child = attr_or(node, name);
        if (PyList_Check(child.ptr()))
            each(child, always);
        else if (is_a(child, "AST"))
            visit(child, always);
    }

    void visit(const py::handle &node, bool always) {
        if (is_a(node, "If")) {
            field(node, "test", always);
            statements(node.attr("body"), false);
            statements(node.attr("orelse"), false);
        } else if (is_a(node, "For") || is_a(node, "AsyncFor")) {
            field(node, "iter", always);
            field(node, "target", always);
            statements(node.attr("body"), false);
            statements(node.attr("orelse"), false);
        } else if (is_a(node, "With") || is_a(node, "AsyncWith")) {
            field(node, "items", always);
            statements(node.attr("body"), always);
        } else if (is_a(node, "IfExp")) {
            field(node, "test", always);
            field(node, "body", false);
            field(node, "orelse", false);
        } else if (is_a(node, "BoolOp")) {
            py::list values = node.attr("values");
            for (size_t k = 0; k < py::len(values); ++k)
                visit(values[k], always && k == 0);
        } else if (is_a(node, "Compare")) {
            field(node, "left", always);
            py::list comparators = node.attr("comparators");
            for (size_t k = 0; k < py::len(comparators); ++k)
                visit(comparators[k], always && k == 0);
        } else if (is_a(node, "Assert")) {
            field(node, "test", always);
            field(node, "msg", false);
        } else if (is_a(node, "While") || is_a(node, "Try") || is_a(node, "Match") ||
                   is_a(node, "FunctionDef") || is_a(node, "AsyncFunctionDef") ||
                   is_a(node, "ClassDef") || is_a(node, "Lambda") || is_a(node, "ListComp") ||
                   is_a(node, "SetComp") || is_a(node, "DictComp") || is_a(node, "GeneratorExp") ||
                   is_a(node, "TryStar")) {
            children(node, false);
        } else {
            if (is_a(node, "Subscript"))
                subscripts.push_back({py::reinterpret_borrow<py::object>(node), always});
            // Names made by the rewriting may carry no context: they are read.
            else if (is_a(node, "Name") && is_a(attr_or(node, "ctx"), "Store"))
                store(node, always);
            if (is_a(node, "AugAssign") && is_a(node.attr("target"), "Name")) {
                stored.insert(text_of(node.attr("target").attr("id")));
                updated.insert(text_of(node.attr("target").attr("id")));
                field(node, "value", always);
                return;
            }
            children(node, always);
        }
    }

    void store(const py::handle &name, bool always) {
        std::string id = text_of(name.attr("id"));
        stored.insert(id);
        stored_by_some.try_emplace(id, py::reinterpret_borrow<py::object>(name));
        if (always)
            stored_by_every.insert(id);
    }

    void children(const py::handle &node, bool always) {
        for (py::handle child : child_nodes(node))
            visit(child, always);
    }
};

// The index of an access that a range test can stand for: the positions before the last,
// fixed for the whole loop (constants, or C integer names the body does not assign), and the
// last the loop index plus a constant.
struct TestedIndex {
    std::vector<std::string> leading;
    long long offset;
};

std::optional<TestedIndex> tested_index(const py::object &cls, const py::object &index,
                                        const py::object &var, const py::object &ci,
                                        const BodyAccesses &body, size_t dimensions) {
    std::vector<py::object> positions;
    if (is_a(index, "Tuple"))
        for (py::handle element : index.attr("elts"))
            positions.push_back(py::reinterpret_borrow<py::object>(element));
    else
        positions.push_back(index);
    if (positions.size() != dimensions)
        return std::nullopt;
    std::optional<long long> offset = offset_from(positions.back(), var);
    if (!offset)
        return std::nullopt;
    TestedIndex tested{{}, *offset};
    for (size_t k = 0; k + 1 < positions.size(); ++k) {
        const py::object &position = positions[k];
        bool fixed = false;
        if (is_a(position, "Constant"))
            fixed = PyLong_CheckExact(position.attr("value").ptr());
        else if (is_a(position, "Name") && !body.stored.count(text_of(position.attr("id")))) {
            std::string type = type_text(cdef_type(cls, position, ci));
            fixed = type == "int" || type == "long long";
        }
        if (!fixed)
            return std::nullopt;
        tested.leading.push_back(unparse(position));
    }
    return tested;
}

// The condition under which the loop `node` over range(...) indexes some typed array out of
// range, or "" when the body holds an access it cannot bound. With `checked_copy` a checked
// copy of the loop runs where the condition holds, so it may bound accesses that some
// iteration skips and fixed leading positions of several dimensions; without, the loop's
// one test raises for all of them, which is right only for accesses of one dimension made on
// every iteration. The condition is written so that no sum in it can wrap around, whatever
// the bounds.
std::string leaves_range(const py::object &cls, const py::object &node, const py::object &ci,
                         bool checked_copy) {
    py::list args = node.attr("iter").attr("args");
    if (py::len(args) > 2)
        return "";
    py::object start = py::len(args) == 2 ? py::object(args[0]) : constant(0);
    py::object stop = args[py::len(args) - 1];
    // Bounds are read twice, by the test and by the loop.
    if (!reads_alike_twice(start) || !reads_alike_twice(stop))
        return "";
    py::object var = node.attr("target").attr("id");
    BodyAccesses body(node.attr("body"));
    if (body.stored.count(text_of(var)))
        return "";
    // A call may run code of the script, which may bind an array or a fixed index anew.
    if (checked_copy)
        for (py::handle statement : node.attr("body"))
            for (py::handle item : walk_tree(statement))
                if (is_a(item, "Call"))
                    return "";
    // For each array and its fixed leading positions, the lowest and highest offset.
    struct Extent {
        std::string view;
        std::vector<std::string> leading;
        long long lowest, highest;
    };
    std::map<std::string, Extent> extents;
    for (const BodyAccesses::Access &access : body.subscripts) {
        py::object view = access.subscript.attr("value");
        if (!is_a(view, "Name"))
            continue;
        std::string view_type = type_text(cdef_type(cls, view, ci));
        if (!is_contiguous_view(view_type))
            continue; // not a typed array: its indexing has no bounds check to drop
        size_t dimensions = std::count(view_type.begin(), view_type.end(), ',') + 1;
        std::optional<TestedIndex> index =
            tested_index(cls, access.subscript.attr("slice"), var, ci, body, dimensions);
        if (!index || (!checked_copy && (!access.every_iteration || dimensions > 1)))
            return "";
        std::string name = text_of(view.attr("id"));
        std::string key = name;
        for (const std::string &position : index->leading)
            key += ", " + position;
        auto it =
            extents.try_emplace(key, Extent{name, index->leading, index->offset, index->offset})
                .first;
        it->second.lowest = std::min(it->second.lowest, index->offset);
        it->second.highest = std::max(it->second.highest, index->offset);
    }
    if (extents.empty())
        return "";
    // Out of range: a leading position below 0 or at its extent or past it, first + lowest <
    // 0, or (last - 1) + highest >= the last extent.
    std::string first = "(" + unparse(start) + ")", last = "(" + unparse(stop) + ")";
    std::string outside;
    for (const auto &[key, extent] : extents) {
        if (body.stored.count(extent.view))
            return "";
        // A loop from 0 that indexes behind its first step would never run its unchecked
        // copy (a parallel loop raises before it starts).
        if (checked_copy && py::len(args) == 1 && extent.lowest < 0)
            return "";
        auto shape = [&](size_t axis) {
            return extent.view + ".shape[" + std::to_string(axis) + "]";
        };
        outside += outside.empty() ? "" : " or ";
        for (size_t axis = 0; axis < extent.leading.size(); ++axis)
            outside += extent.leading[axis] + " < 0 or " + extent.leading[axis] +
                       " >= " + shape(axis) + " or ";
        outside += first + " < " + std::to_string(-extent.lowest) + " or " + last + " > " +
                   with_offset(shape(extent.leading.size()), -extent.highest);
    }
    return last + " > " + first + " and (" + outside + ")";
}

} // namespace

std::map<std::string, py::object> stored_on_some_iterations(const py::object &body) {
    BodyAccesses accesses(body);
    std::map<std::string, py::object> some = accesses.stored_by_some;
    for (const std::set<std::string> *names : {&accesses.stored_by_every, &accesses.updated})
        for (const std::string &name : *names)
            some.erase(name);
    return some;
}

// The per-access bounds checks of a parallel loop give its body an error path, which OpenMP
// pays on every iteration (a shared flag tested and flushed): one test before the loop that
// the whole range fits each array stands for all of them.
std::string range_check(const py::object &cls, const py::object &node, const py::object &ci) {
    std::string outside = leaves_range(cls, node, ci, false);
    if (outside.empty())
        return "";
    return "if " + outside + ": raise IndexError('Out of bounds on buffer access (axis 0)')";
}

std::string range_condition(const py::object &cls, const py::object &node, const py::object &ci) {
    return leaves_range(cls, node, ci, true);
}

namespace {

// The statement `source`, every part of it on the line of `node`.
py::object parsed_at_line_of(const std::string &source, const py::object &node) {
    py::object statement = parse_statement(py::str(source));
    for (py::handle part : walk_tree(statement))
        for (const char *field : {"lineno", "end_lineno"})
            if (has_attr(part, field))
                part.attr(field) = node.attr("lineno");
    return statement;
}

// A loop of its own over the target, range, body and else clause of the loop `node`.
py::object loop_copy(const py::object &node) {
    py::object loop = ast_class("For")(node.attr("target"), node.attr("iter"), node.attr("body"),
                                       node.attr("orelse"));
    loop.attr("lineno") = node.attr("lineno");
    return loop;
}

// The items of `with <no bounds checks>:`; tags the root block for the cimport of the
// directives.
py::list no_bounds_checks(const py::object &ci) {
    py::list items;
    for (const char *directive : {"boundscheck", "initializedcheck"}) {
        py::list off;
        off.append(constant(false));
        py::object switch_off = call(bare_attribute(bare_name(cython_alias), directive), off);
        items.append(ast_class("withitem")(switch_off));
    }
    set_tag(ci.attr("get_root")(), cython_alias, py::bool_(true));
    return items;
}

} // namespace

// with <no bounds checks>: <range check>; <the loop>. The loop node becomes the `with`
// statement in place.
void drop_per_access_checks(const py::object &node, const py::object &ci,
                            const std::string &check_source) {
    py::list body;
    body.append(parsed_at_line_of(check_source, node));
    body.append(loop_copy(node));
    set_class(node, "With");
    for (const char *field : {"target", "iter", "orelse"})
        py::delattr(node, field);
    node.attr("items") = no_bounds_checks(ci);
    node.attr("body") = body;
}

// if <out of range>: <the loop> else: with <no bounds checks>: <the loop>. The loop node
// becomes the `if` statement in place; both loops share its statements.
void run_unchecked_in_range(const py::object &node, const py::object &ci,
                            const std::string &condition) {
    py::list unchecked;
    unchecked.append(loop_copy(node));
    py::object no_checks = ast_class("With")(no_bounds_checks(ci), unchecked);
    no_checks.attr("lineno") = node.attr("lineno");
    py::list checked, orelse;
    checked.append(loop_copy(node));
    orelse.append(no_checks);
    py::object test = parsed_at_line_of("if " + condition + ": pass", node).attr("test");
    set_class(node, "If");
    for (const char *field : {"target", "iter"})
        py::delattr(node, field);
    node.attr("test") = test;
    node.attr("body") = checked;
    node.attr("orelse") = orelse;
}

} // namespace zel
