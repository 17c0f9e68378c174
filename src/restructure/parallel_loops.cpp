// `for` statements: a loop over zel.range becomes an OpenMP loop over prange that runs without
// the interpreter lock, a loop over zel.projection goes to the projection rewriting, and every
// other loop is walked as it stands, its body in a block of its own.
#include "restructure/blocks.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/restructure_classes.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"
#include "support/text.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>

namespace zel {
namespace {

using namespace pybind11::literals;

std::string line_of(const py::object &node) {
    return text_of(node.attr("lineno"));
}

// `index: int`, declared through the annotated-declaration rewriting and placed in the nearest
// depth-0 block: the index of a loop is a C integer (long long) there.
void declare_index(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object declaration = ast_class("AnnAssign")("target"_a = node.attr("target"),
                                                    "annotation"_a = ast_class("Name")("int"),
                                                    "value"_a = py::none(), "simple"_a = 1);
    declaration.attr("lineno") = node.attr("lineno");
    cls.attr("reform_Stmt")(declaration, ci);
    ci.attr("insert_stmt")(declaration);
}

// The keyword `cuda=True`, written exactly so.
bool is_cuda_loop(const py::object &call) {
    for (py::handle keyword : call.attr("keywords"))
        if (equals(keyword.attr("arg"), py::str("cuda")) &&
            unparse(keyword.attr("value")) == "True")
            return true;
    return false;
}

// The iterator becomes _cp_prange_(<positional arguments>, <the parallel keywords>); a bound
// len(x) of a typed array reads its first extent.
void make_prange_iterator(const Globals &g, const py::object &cls, const py::object &call,
                          const py::object &ci) {
    call.attr("func") = ast_class("Name")(g["ZELConst"].attr("zelrange"));
    py::object first = call.attr("args")[py::int_(0)];
    if (is_a(first, "Call") && truthy(cls.attr("equal")(first.attr("func"), "len")))
        cls.attr("len_to_shape")(first, ci);
    py::object keywords_source = g["ZELConst"].attr("pyx_prefix")[py::int_(2)];
    call.attr("keywords") = parse_statement(keywords_source).attr("value").attr("keywords");
}

// A loop over zel.range with `cuda=True`: the system has no GPU code path, and the built module
// has no `zel` to call, so the loop runs in order over range(<positional arguments>).
void make_sequential_iterator(const py::object &call) {
    call.attr("func") = ast_class("Name")("range");
    call.attr("keywords") = py::list();
}

// The constant offset c of an index `var`, `var + c`, `c + var` or `var - c`, or nothing.
std::optional<long long> offset_from(const py::object &index, const py::object &var) {
    auto is_var = [&](const py::object &node) {
        return is_a(node, "Name") && equals(node.attr("id"), var);
    };
    auto constant = [](const py::object &node) -> std::optional<long long> {
        if (!is_a(node, "Constant") || !PyLong_CheckExact(node.attr("value").ptr()))
            return std::nullopt;
        return node.attr("value").cast<long long>();
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

// The source of `expression` plus the constant `c`.
std::string plus(const std::string &expression, long long c) {
    if (c == 0)
        return expression;
    return expression + (c > 0 ? " + " : " - ") + std::to_string(c > 0 ? c : -c);
}

// A bound that can be read twice, before the loop and by it, with the same value.
bool is_plain_bound(const py::object &node) {
    if (is_a(node, "Name") || is_a(node, "Constant"))
        return true;
    if (is_a(node, "Attribute"))
        return is_plain_bound(node.attr("value"));
    if (is_a(node, "Subscript"))
        return is_plain_bound(node.attr("value")) && is_plain_bound(node.attr("slice"));
    if (is_a(node, "UnaryOp"))
        return is_plain_bound(node.attr("operand"));
    if (is_a(node, "BinOp"))
        return is_plain_bound(node.attr("left")) && is_plain_bound(node.attr("right"));
    return false;
}

// The per-access bounds checks of a parallel loop give its body an error path, which OpenMP
// pays on every iteration (a shared flag tested and flushed). When every typed-array access in
// the body indexes a one-dimensional array at the loop index plus a constant, one test before the
// loop that the whole range fits each array stands for all of them: it returns the source of that
// test, or
// "" when the loop keeps its checks.
std::string range_check(const py::object &cls, const py::object &node, const py::object &ci) {
    py::list args = node.attr("iter").attr("args");
    if (py::len(args) > 2)
        return "";
    py::object start = py::len(args) == 2 ? py::object(args[0]) : ast_class("Constant")(0);
    py::object stop = args[py::len(args) - 1];
    if (!is_plain_bound(start) || !is_plain_bound(stop))
        return "";
    py::object var = node.attr("target").attr("id");
    std::map<std::string, std::pair<long long, long long>> offsets;
    std::set<std::string> assigned;
    py::object walk = py::module_::import("ast").attr("walk");
    for (py::handle statement : node.attr("body")) {
        for (py::handle item : walk(statement)) {
            // Names made by the rewriting may carry no context: they are read.
            if (is_a(item, "Name") && is_a(attr_or(item, "ctx"), "Store"))
                assigned.insert(text_of(item.attr("id")));
            if (!is_a(item, "Subscript") || !is_a(item.attr("value"), "Name"))
                continue;
            py::object view = item.attr("value");
            py::object view_type = cls.attr("get_cdef_type")(view, ci);
            if (!py::isinstance<py::str>(view_type) || !ends_with(text_of(view_type), "::1]"))
                continue; // not a typed array: its indexing has no bounds check to drop
            std::optional<long long> offset = offset_from(item.attr("slice"), var);
            if (!offset || text_of(view_type).find(":,") != std::string::npos)
                return "";
            auto it = offsets.try_emplace(text_of(view.attr("id")), *offset, *offset).first;
            it->second = {std::min(it->second.first, *offset),
                          std::max(it->second.second, *offset)};
        }
    }
    if (offsets.empty())
        return "";
    std::string first = "(" + unparse(start) + ")", last = "(" + unparse(stop) + ")";
    std::string outside;
    for (const auto &[view, range] : offsets) {
        if (assigned.count(view))
            return "";
        outside += outside.empty() ? "" : " or ";
        outside += plus(first, range.first) + " < 0 or " + plus(last, range.second - 1) +
                   " >= " + view + ".shape[0]";
    }
    return "if " + last + " > " + first + " and (" + outside +
           "): raise IndexError('Out of bounds on buffer access (axis 0)')";
}

// with <no bounds checks>: <range check>; <the loop>. The loop node becomes the `with`
// statement in place.
void drop_per_access_checks(const py::object &node, const py::object &ci,
                            const std::string &check_source) {
    py::object check = parse_statement(py::str(check_source));
    for (py::handle part : py::module_::import("ast").attr("walk")(check))
        if (has_attr(part, "lineno"))
            part.attr("lineno") = node.attr("lineno");
    py::object loop = ast_class("For")(node.attr("target"), node.attr("iter"), node.attr("body"),
                                       node.attr("orelse"));
    loop.attr("lineno") = node.attr("lineno");
    py::list items;
    for (const char *directive : {"boundscheck", "initializedcheck"}) {
        py::object switch_off =
            ast_class("Call")(ast_class("Attribute")(ast_class("Name")(cython_alias), directive),
                              py::make_tuple(ast_class("Constant")(false)), py::list());
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

void reform_parallel_loop(const Globals &g, const py::object &cls, const py::object &node,
                          const py::object &ci) {
    py::object target = node.attr("target");
    if (!is_a(target, "Name"))
        script_fault("ZEL.range: `" + unparse(target) +
                     "` 병렬 변수는 단일 변수만 허용합니다. line " + line_of(node));
    if (!truthy(ci.attr("get_symbol")(target)[py::int_(0)]))
        declare_index(cls, node, ci);

    py::object call = node.attr("iter");
    bool sequential = is_cuda_loop(call);
    if (sequential) {
        make_sequential_iterator(call);
    } else {
        make_prange_iterator(g, cls, call, ci);
        py::setattr(cls, "openmp", py::bool_(true));
    }

    if (truthy(ci.attr("get_attr")(cls.attr("midx"))))
        script_fault("ZEL.range: 병렬 블럭을 중첩해서 사용할 수 없습니다. line " + line_of(node));
    py::object body = cls.attr("BlockInfo")(node, ci).attr("set_attr")(cls.attr("midx"), true);
    cls.attr("reform_Stmt")(node.attr("body"), body);
    if (sequential)
        return;
    std::string check = range_check(cls, node, ci);
    if (!check.empty())
        drop_per_access_checks(node, ci, check);
}

// A loop whose target is an index and nothing else: over range(...) or zel.projection(...).
bool is_index_loop(const py::object &cls, const py::handle &loop, const py::object &ci) {
    py::object call = loop.attr("iter");
    if (!is_a(call, "Call"))
        return false;
    std::string callee = text_of(cls.attr("convert_import_name_str")(call.attr("func"), ci));
    return callee == "range" || callee == text_of(cls.attr("PROJECTION"));
}

// The names of a scope that only index loops bind: their every binding (in the scope and the
// scopes nested in it) is the target of an index loop, and no parameter, import alias,
// `global` or `nonlocal` names them. Found in one walk over the scope, kept beside its block:
// asking for each loop costs the same however many loops the scope holds.
py::dict loop_index_names(const py::object &cls, const py::object &ci, const py::object &block) {
    py::object found = get_tag(block, "_loop_indices_");
    if (!found.is_none())
        return found;
    std::unordered_set<PyObject *> index_targets;
    py::list stores;
    std::unordered_set<std::string> excluded;
    for (py::handle item : py::module_::import("ast").attr("walk")(block.attr("node"))) {
        if (is_a(item, "For") && is_index_loop(cls, item, ci)) {
            index_targets.insert(item.attr("target").ptr());
        } else if (is_a(item, "Name") && is_a(attr_or(item, "ctx"), "Store")) {
            stores.append(item);
        } else if (is_a(item, "arg")) {
            excluded.insert(text_of(item.attr("arg")));
        } else if (is_a(item, "alias")) {
            py::object asname = attr_or(item, "asname");
            if (!asname.is_none())
                excluded.insert(text_of(asname));
        } else if (is_a(item, "Global") || is_a(item, "Nonlocal")) {
            for (py::handle name : item.attr("names"))
                excluded.insert(text_of(name));
        }
    }
    py::dict names;
    for (py::handle store : stores) {
        py::object id = store.attr("id");
        bool only_index = !excluded.count(text_of(id)) && index_targets.count(store.ptr()) &&
                          !(names.contains(id) && !truthy(names[id]));
        names[id] = py::bool_(only_index);
    }
    set_tag(block, "_loop_indices_", names);
    return names;
}

// Inside compiled code (a fully typed function or a parallel body), which runs without the
// interpreter lock, the index of a loop over range(...) or zel.projection(...) must be a C
// integer: an untyped one is a Python object there and the build fails. It is declared when
// nothing else binds the name.
void type_loop_index(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object target = node.attr("target");
    if (!is_a(target, "Name") || !is_index_loop(cls, node, ci) ||
        truthy(ci.attr("get_symbol")(target)[py::int_(0)]))
        return;
    py::dict names = loop_index_names(cls, ci, depth0_block(ci));
    py::object id = target.attr("id");
    if (!names.contains(id) || truthy(names[id]))
        declare_index(cls, node, ci);
}

void reform_For(const Globals &g, const py::object &cls, const py::object &node,
                const py::object &ci) {
    py::object iter = node.attr("iter");
    if (is_a(iter, "Call")) {
        std::string callee = text_of(cls.attr("convert_import_name_str")(iter.attr("func"), ci));
        if (callee == text_of(cls.attr("RANGE"))) {
            reform_parallel_loop(g, cls, node, ci);
            return;
        }
        if (callee == text_of(cls.attr("PROJECTION"))) {
            if (truthy(ci.attr("get_attr")(cls.attr("midx"))))
                type_loop_index(cls, node, ci);
            cls.attr("reform_Projection")(node, ci);
            return;
        }
    }
    cls.attr("reform_Stmt")(iter, ci);
    if (truthy(ci.attr("get_attr")(cls.attr("midx"))))
        type_loop_index(cls, node, ci);
    cls.attr("reform_Stmt")(node.attr("body"), cls.attr("BlockInfo")(node, ci));
}

} // namespace

void add_loop_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_For", reform_For, py::arg("cls"), py::arg("node"), py::arg("ci"));
}

} // namespace zel
