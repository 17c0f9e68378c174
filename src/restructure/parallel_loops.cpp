// `for` statements: a loop over zel.range becomes an OpenMP loop over prange that runs without
// the interpreter lock, a loop over zel.projection goes to the projection rewriting, and every
// other loop is walked as it stands, its body in a block of its own.
#include "restructure/blocks.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"
#include "support/text.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace zel {
namespace {

using namespace pybind11::literals;

std::string line_of(const py::object &node) {
    return text_of(node.attr("lineno"));
}

// A loop whose target is an index and nothing else: over range(...), zel.range(...) (also
// once rewritten to prange) or zel.projection(...).
bool is_index_loop(const Globals &g, const py::object &cls, const py::handle &loop,
                   const py::object &ci) {
    py::object call = loop.attr("iter");
    if (!is_a(call, "Call"))
        return false;
    std::string callee = text_of(dotted_name(cls, call.attr("func"), ci));
    return callee == "range" || callee == text_of(cls.attr("RANGE")) ||
           callee == text_of(g["ZELConst"].attr("zelrange")) ||
           callee == text_of(cls.attr("PROJECTION"));
}

// The names of a scope that only index loops bind: their every binding (in the scope and the
// scopes nested in it) is the target of an index loop, and no parameter, import alias,
// `global` or `nonlocal` names them. Found in one walk over the scope, kept beside its block:
// asking for each loop costs the same however many loops the scope holds.
py::dict loop_index_names(const Globals &g, const py::object &cls, const py::object &ci,
                          const py::object &block) {
    py::object found = get_tag(block, "_loop_indices_");
    if (!found.is_none())
        return found;
    std::unordered_set<PyObject *> index_targets;
    py::list stores;
    std::unordered_set<std::string> excluded;
    for (py::handle item : walk_tree(block.attr("node"))) {
        if (is_a(item, "For") && is_index_loop(g, cls, item, ci)) {
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

// Whether index loops are all that bind `name` in the scope of the depth-0 `block`.
bool bound_only_as_loop_index(const Globals &g, const py::object &cls, const py::object &name,
                              const py::object &ci, const py::object &block) {
    py::dict names = loop_index_names(g, cls, ci, block);
    return !names.contains(name) || truthy(names[name]);
}

// Whether `name` is bound in the C scope around `ci`: in a block from `ci` out to the nearest
// depth-0 block. A name of an enclosing function or of the module is another variable there.
bool bound_in_scope(const py::object &ci, const py::object &name) {
    for (py::object block = ci;; block = block.attr("prev")) {
        if (truthy(py::dict(block.attr("symbol")).attr("get")(name)))
            return true;
        if (block.attr("depth").cast<long>() == 0)
            return false;
    }
}

// Whether the statement mentions `name` anywhere, nested scopes included.
bool mentions(py::handle statement, const py::object &name) {
    for (py::handle item : walk_tree(statement))
        if ((is_a(item, "Name") && py_equal(item.attr("id"), name)) ||
            (is_a(item, "arg") && py_equal(item.attr("arg"), name)))
            return true;
    return false;
}

// `index: int`, a C integer (long long), declared in the C scope of the loop. C wants the
// declaration before the first use of the name in the depth-0 block: before the statement
// being walked there, or before an earlier statement that uses the name when every binding
// of the name in the scope is a loop index, whose values a C integer holds as Python's int
// does. A declaration made in this C scope for a sibling block's loop serves this one too.
void declare_index(const Globals &g, const py::object &cls, const py::object &node,
                   const py::object &ci) {
    py::object target = node.attr("target");
    py::object name = target.attr("id");
    py::object ctype = table_type(cls, "int");
    py::dict declared = declarations(ci);
    py::object earlier = declared.attr("get")(name);
    if (!earlier.is_none()) {
        ci.attr("set_symbol")(
            name, cls.attr("VariableInfo")(earlier, get_tag(earlier, cls.attr("didx"))));
        return;
    }
    py::object declaration =
        ast_class("AnnAssign")("target"_a = target, "annotation"_a = ast_class("Name")("int"),
                               "value"_a = py::none(), "simple"_a = 1);
    declaration.attr("lineno") = node.attr("lineno");
    set_tag(declaration, cls.attr("cidx"), py::bool_(true));
    set_tag(declaration, cls.attr("didx"), ctype);
    declared[name] = declaration;
    ci.attr("set_symbol")(name, cls.attr("VariableInfo")(declaration, ctype));

    py::object block = depth0_block(ci);
    py::list body = block.attr("node").attr("body");
    Py_ssize_t at = block.attr("index").cast<Py_ssize_t>();
    Py_ssize_t first_use = 0;
    while (first_use < at && !mentions(body[first_use], name))
        ++first_use;
    if (first_use < at && bound_only_as_loop_index(g, cls, name, ci, block))
        at = first_use;
    body.insert(at, declaration);
}

// The keyword `cuda=True`, written exactly so.
bool is_cuda_loop(const py::object &call) {
    for (py::handle keyword : call.attr("keywords"))
        if (py_equal(keyword.attr("arg"), py::str("cuda")) &&
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
                stored.insert(text_of(node.attr("id")));
            children(node, always);
        }
    }

    void children(const py::handle &node, bool always) {
        for (py::handle name : py::type::handle_of(node).attr("_fields"))
            field(node, text_of(name).c_str(), always);
    }
};

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
    py::object start = py::len(args) == 2 ? py::object(args[0]) : ast_class("Constant")(0);
    py::object stop = args[py::len(args) - 1];
    if (!is_plain_bound(start) || !is_plain_bound(stop))
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
        if (!py::isinstance<py::str>(view_type) || !ends_with(text_of(view_type), "::1]"))
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
                   plus(view + ".shape[0]", -range.second);
    }
    return "if " + last + " > " + first + " and (" + outside +
           "): raise IndexError('Out of bounds on buffer access (axis 0)')";
}

// In a parallel body, `s += v` makes `s` a reduction over the loop, which the body may not
// read. A name that the body assigns before its in-place update holds a value of the
// iteration instead: its update is written `s = s + v`, so that it stays private.
void keep_updates_private(const py::object &body) {
    std::set<std::string> assigned;
    for (py::handle statement : body) {
        for (py::handle item : walk_tree(statement)) {
            if (!is_a(item, "AugAssign") || !is_a(item.attr("target"), "Name"))
                continue;
            py::object target = item.attr("target");
            if (!assigned.count(text_of(target.attr("id"))))
                continue;
            py::object value =
                ast_class("BinOp")(ast_class("Name")(target.attr("id"), ast_class("Load")()),
                                   item.attr("op"), item.attr("value"));
            set_class(item, "Assign");
            py::delattr(item, "target");
            py::delattr(item, "op");
            py::list targets;
            targets.append(target);
            item.attr("targets") = targets;
            item.attr("value") = value;
        }
        if (is_a(statement, "Assign")) {
            for (py::handle target : statement.attr("targets"))
                for (py::handle item : walk_tree(target))
                    if (is_a(item, "Name"))
                        assigned.insert(text_of(item.attr("id")));
        }
    }
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
    if (!bound_in_scope(ci, target.attr("id")))
        declare_index(g, cls, node, ci);

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
    reform_stmt(cls, node.attr("body"), body);
    if (sequential)
        return;
    keep_updates_private(node.attr("body"));
    std::string check = range_check(cls, node, ci);
    if (!check.empty())
        drop_per_access_checks(node, ci, check);
}

// Inside compiled code (a fully typed function or a parallel body), which runs without the
// interpreter lock, the index of a loop over range(...) or zel.projection(...) must be a C
// integer: an untyped one is a Python object there and the build fails. It is declared when
// nothing else binds the name.
void type_loop_index(const Globals &g, const py::object &cls, const py::object &node,
                     const py::object &ci) {
    py::object target = node.attr("target");
    if (!is_a(target, "Name") || !is_index_loop(g, cls, node, ci) ||
        bound_in_scope(ci, target.attr("id")))
        return;
    if (bound_only_as_loop_index(g, cls, target.attr("id"), ci, depth0_block(ci)))
        declare_index(g, cls, node, ci);
}

void reform_For(const Globals &g, const py::object &cls, const py::object &node,
                const py::object &ci) {
    py::object iter = node.attr("iter");
    if (is_a(iter, "Call")) {
        std::string callee = text_of(dotted_name(cls, iter.attr("func"), ci));
        if (callee == text_of(cls.attr("RANGE"))) {
            reform_parallel_loop(g, cls, node, ci);
            return;
        }
        if (callee == text_of(cls.attr("PROJECTION"))) {
            if (truthy(ci.attr("get_attr")(cls.attr("midx"))))
                type_loop_index(g, cls, node, ci);
            cls.attr("reform_Projection")(node, ci);
            return;
        }
    }
    reform_stmt(cls, iter, ci);
    if (truthy(ci.attr("get_attr")(cls.attr("midx"))))
        type_loop_index(g, cls, node, ci);
    reform_stmt(cls, node.attr("body"), cls.attr("BlockInfo")(node, ci));
}

} // namespace

void add_loop_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_For", reform_For, py::arg("cls"), py::arg("node"), py::arg("ci"));
}

} // namespace zel
