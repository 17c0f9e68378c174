// The range test of a parallel loop: one test before the loop that the whole range of its
// index fits every typed array the body reads or writes, standing for the per-access bounds
// checks, which Cython's directives then switch off for the loop.
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
// pays on every iteration (a shared flag tested and flushed). When every typed-array access in
// the body is made on every iteration and indexes a one-dimensional array at the loop index
// plus a constant, one test before the loop that the whole range fits each array stands for
// all of them: it returns the source of that test, or "" when the loop keeps its checks. The
// test is written so that no sum in it can wrap around, whatever the bounds.
std::string range_check(const py::object &cls, const py::object &node, const py::object &ci) {
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
    std::map<std::string, std::pair<long long, long long>> offsets;
    for (const BodyAccesses::Access &access : body.subscripts) {
        py::object view = access.subscript.attr("value");
        if (!is_a(view, "Name"))
            continue;
        py::object view_type = cdef_type(cls, view, ci);
        if (!py::isinstance<py::str>(view_type) || !is_contiguous_view(text_of(view_type)))
            continue; // not a typed array: its indexing has no bounds check to drop
        std::optional<long long> offset = offset_from(access.subscript.attr("slice"), var);
        if (!access.every_iteration || !offset ||
            text_of(view_type).find(":,") != std::string::npos)
            return "";
        auto it = offsets.try_emplace(text_of(view.attr("id")), *offset, *offset).first;
        it->second = {std::min(it->second.first, *offset), std::max(it->second.second, *offset)};
    }
    if (offsets.empty())
        return "";
    // Out of range: first + lowest < 0, or (last - 1) + highest >= extent.
    std::string first = "(" + unparse(start) + ")", last = "(" + unparse(stop) + ")";
    std::string outside;
    for (const auto &[view, range] : offsets) {
        if (body.stored.count(view))
            return "";
        outside += outside.empty() ? "" : " or ";
        outside += first + " < " + std::to_string(-range.first) + " or " + last + " > " +
                   with_offset(view + ".shape[0]", -range.second);
    }
    return "if " + last + " > " + first + " and (" + outside +
           "): raise IndexError('Out of bounds on buffer access (axis 0)')";
}

// with <no bounds checks>: <range check>; <the loop>. The loop node becomes the `with`
// statement in place.
void drop_per_access_checks(const py::object &node, const py::object &ci,
                            const std::string &check_source) {
    py::object check = parse_statement(py::str(check_source));
    for (py::handle part : walk_tree(check))
        if (has_attr(part, "lineno"))
            part.attr("lineno") = node.attr("lineno");
    py::object loop = ast_class("For")(node.attr("target"), node.attr("iter"), node.attr("body"),
                                       node.attr("orelse"));
    loop.attr("lineno") = node.attr("lineno");
    py::list items;
    for (const char *directive : {"boundscheck", "initializedcheck"}) {
        py::object switch_off = call(bare_attribute(bare_name(cython_alias), directive),
                                     py::make_tuple(constant(false)));
        items.append(ast_class("withitem")(switch_off));
    }
    set_class(node, "With");
    for (const char *field : {"target", "iter", "orelse"})
        py::delattr(node, field);
    node.attr("items") = items;
    py::list body;
    body.append(check);
    body.append(loop);
    node.attr("body") = body;
    set_tag(ci.attr("get_root")(), cython_alias, py::bool_(true));
}

} // namespace zel
