// `for` statements: a loop over zel.range becomes an OpenMP loop over prange that runs without
// the interpreter lock, a loop over zel.projection goes to the projection rewriting, and every
// other loop is walked as it stands, its body in a block of its own.
#include "restructure/blocks.hpp"
#include "restructure/range_test.hpp"
#include "restructure/repeated_reads.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/tags.hpp"
#include "restructure/text_fields.hpp"
#include "restructure/type_names.hpp"
#include "support/objects.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"
#include "support/text.hpp"

#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace zel {
namespace {

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

// Whether `node` opens a scope of its own inside the one being read: a function, lambda or
// class, whose parameters and locals are its own, not the enclosing scope's variables.
bool opens_scope(py::handle node) {
    return is_a(node, "FunctionDef") || is_a(node, "AsyncFunctionDef") || is_a(node, "Lambda") ||
           is_a(node, "ClassDef");
}

// The names of a scope that only index loops bind: their every binding in the scope is the
// target of an index loop, and no parameter, import alias, `global` or `nonlocal` names them.
// The parameters and locals of a function or class nested in the scope are its own; a
// `global` or `nonlocal` there still counts. Found in one walk over the scope, kept beside its
// block: asking for each loop costs the same however many loops the scope holds.
py::dict loop_index_names(const Globals &g, const py::object &cls, const py::object &ci,
                          const py::object &block) {
    py::object found = get_tag(block, "_loop_indices_");
    if (!found.is_none())
        return found;
    std::unordered_set<PyObject *> index_targets;
    py::list stores;
    std::unordered_set<std::string> excluded;
    py::object root = block.attr("node");
    std::vector<std::pair<py::object, bool>> pending{{root, false}};
    while (!pending.empty()) {
        auto [item, nested] = std::move(pending.back());
        pending.pop_back();
        bool inner = nested || (item.ptr() != root.ptr() && opens_scope(item));
        for (py::handle child : child_nodes(item))
            pending.emplace_back(py::reinterpret_borrow<py::object>(child), inner);
        if (is_a(item, "Global") || is_a(item, "Nonlocal")) {
            for (py::handle name : item.attr("names"))
                excluded.insert(text_of(name));
        } else if (nested) {
            continue;
        } else if (is_a(item, "For") && is_index_loop(g, cls, item, ci)) {
            index_targets.insert(item.attr("target").ptr());
        } else if (is_a(item, "Name") && is_a(attr_or(item, "ctx"), "Store")) {
            stores.append(item);
        } else if (is_a(item, "arg")) {
            excluded.insert(text_of(item.attr("arg")));
        } else if (is_a(item, "alias")) {
            py::object asname = attr_or(item, "asname");
            if (!asname.is_none())
                excluded.insert(text_of(asname));
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
// depth-0 block, by something other than a loop, whose index is declared where it is typed. A
// name of an enclosing function or of the module is another variable there.
bool bound_in_scope(const py::object &ci, const py::object &name) {
    for (py::object block = ci;; block = block.attr("prev")) {
        py::object entry = py::dict(block.attr("symbol")).attr("get")(name);
        if (truthy(entry) && !is_a(entry, "For"))
            return true;
        if (block.attr("depth").cast<long>() == 0)
            return false;
    }
}

// The position in the body of the depth-0 `block` of the first statement before the one being
// walked there that mentions `name` anywhere (nested scopes included), or that statement's own
// position when none does. The statements before it are rewritten already and stay as they
// are: each is walked once, its names recorded beside the block with the first statement that
// mentions each, so asking for every loop costs the same however many the block holds.
Py_ssize_t first_mention(const py::object &block, const py::object &name) {
    py::list body = block.attr("node").attr("body");
    Py_ssize_t at = block.attr("index").cast<Py_ssize_t>();
    py::object found = get_tag(block, "_first_mentions_");
    py::dict first;
    Py_ssize_t scanned = 0;
    if (!found.is_none()) {
        first = found[py::int_(0)];
        scanned = found[py::int_(1)].cast<Py_ssize_t>();
    }
    for (; scanned < at; ++scanned) {
        py::object statement = body[scanned];
        for (py::handle item : walk_tree(statement)) {
            py::object mentioned = is_a(item, "Name")  ? py::object(item.attr("id"))
                                   : is_a(item, "arg") ? py::object(item.attr("arg"))
                                                       : py::object();
            if (mentioned && !first.contains(mentioned))
                first[mentioned] = statement;
        }
    }
    set_tag(block, "_first_mentions_", py::make_tuple(first, scanned));
    py::object statement = first.attr("get")(name);
    return statement.is_none() ? at : py::cast<Py_ssize_t>(body.attr("index")(statement));
}

// Records the statement inserted at `position` in the body of the depth-0 `block`: one more
// statement before the first one not yet recorded.
void note_insertion(const py::object &block, Py_ssize_t position) {
    py::object found = get_tag(block, "_first_mentions_");
    if (found.is_none())
        return;
    Py_ssize_t scanned = found[py::int_(1)].cast<Py_ssize_t>();
    if (position < scanned)
        set_tag(block, "_first_mentions_", py::make_tuple(found[py::int_(0)], scanned + 1));
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
        bind(ci, name, new_variable(cls, earlier, get_tag(earlier, tag_name(cls, dtype_tag))));
        return;
    }
    py::object declaration = ann_assign(target, bare_name("int"), py::none());
    declaration.attr("lineno") = node.attr("lineno");
    set_tag(declaration, tag_name(cls, cdef_tag), py::bool_(true));
    set_tag(declaration, tag_name(cls, dtype_tag), ctype);
    declared[name] = declaration;
    bind(ci, name, new_variable(cls, declaration, ctype));

    py::object block = depth0_block(ci);
    py::list body = block.attr("node").attr("body");
    Py_ssize_t at = block.attr("index").cast<Py_ssize_t>();
    Py_ssize_t first_use = first_mention(block, name);
    if (first_use < at && bound_only_as_loop_index(g, cls, name, ci, block))
        at = first_use;
    body.insert(at, declaration);
    note_insertion(block, at);
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
    call.attr("func") = bare_name(g["ZELConst"].attr("zelrange"));
    py::object first = call.attr("args")[py::int_(0)];
    if (is_a(first, "Call") && spells(cls, first.attr("func"), "len"))
        len_as_extent(cls, first, ci);
    py::object keywords_source = g["ZELConst"].attr("pyx_prefix")[py::int_(2)];
    call.attr("keywords") = parse_statement(keywords_source).attr("value").attr("keywords");
}

// A literal a C long long holds past the range of a C int, written with the suffix that makes
// it a C long long; anything else stays.
py::object as_long_long(const py::object &node) {
    if (!is_a(node, "Constant") || !PyLong_CheckExact(node.attr("value").ptr()))
        return node;
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(node.attr("value").ptr(), &overflow);
    if (overflow || value < (1LL << 31))
        return node;
    return name_load(py::str(std::to_string(value) + "LL"));
}

// Cython types an integer literal past the range of a C int as a Python object, which the
// bounds of a loop without the interpreter may not hold: such literals in the bounds become C
// long long literals.
void type_large_bounds(const py::object &call) {
    py::list args = call.attr("args");
    for (size_t k = 0; k < py::len(args); ++k)
        args[k] = as_long_long(args[k]);
    for (py::handle arg : args)
        for (py::handle node : walk_tree(arg))
            for (py::handle name : field_names(node)) {
                py::object child = attr_or(node, text_of(name).c_str());
                if (PyList_Check(child.ptr())) {
                    py::list items = child;
                    for (size_t k = 0; k < py::len(items); ++k)
                        items[k] = as_long_long(items[k]);
                } else if (is_a(child, "Constant")) {
                    py::setattr(node, name, as_long_long(child));
                }
            }
}

// A loop over zel.range with `cuda=True`: the system has no GPU code path, and the built module
// has no `zel` to call, so the loop runs in order over range(<positional arguments>).
void make_sequential_iterator(const py::object &call) {
    call.attr("func") = bare_name("range");
    call.attr("keywords") = py::list();
}

// In a parallel body, `s += v` makes `s` a reduction over the loop, which the body may not
// read. A name that the body assigns before its in-place update, on the way to it (earlier in
// the update's block or in a block around it: `s = 0.0` in an inner loop, then
// `s += a[i, k] * b[k, j]` in a loop inside that), holds a value of the iteration instead: its
// update is written `s = s + v`, so that it stays private. An assignment under an `if` before
// the update assigns on some iterations only, and leaves the update a reduction. Returns the
// names assigned on every way through the statements.
std::set<std::string> keep_updates_private(const py::list &statements,
                                           std::set<std::string> assigned) {
    for (py::handle statement : statements) {
        if (is_a(statement, "AugAssign") && is_a(statement.attr("target"), "Name")) {
            py::object target = statement.attr("target");
            if (assigned.count(text_of(target.attr("id"))))
                write_update_as_assignment(
                    statement, ast_class("BinOp")(name_load(target.attr("id")),
                                                  statement.attr("op"), statement.attr("value")));
        }
        if (is_a(statement, "Try")) {
            // `else` runs after the whole `try` block.
            keep_updates_private(statement.attr("orelse"),
                                 keep_updates_private(statement.attr("body"), assigned));
            for (py::handle handler : statement.attr("handlers"))
                keep_updates_private(handler.attr("body"), assigned);
            keep_updates_private(statement.attr("finalbody"), assigned);
        } else if (is_a(statement, "With")) {
            assigned = keep_updates_private(statement.attr("body"), assigned);
        } else {
            for (const char *field : {"body", "orelse"})
                if (has_attr(statement, field))
                    keep_updates_private(statement.attr(field), assigned);
        }
        py::list targets;
        if (is_a(statement, "Assign"))
            targets = statement.attr("targets");
        else if (is_a(statement, "AnnAssign") && !statement.attr("value").is_none())
            targets.append(statement.attr("target"));
        for (py::handle target : targets)
            for (py::handle item : walk_tree(target))
                if (is_a(item, "Name"))
                    assigned.insert(text_of(item.attr("id")));
    }
    return assigned;
}

// Whether a node stands in the script: a node the rewriting made may have no place, or only a
// line.
bool has_place(py::handle node) {
    for (const char *field : {"lineno", "col_offset", "end_lineno", "end_col_offset"})
        if (!has_attr(node, field) || node.attr(field).is_none())
            return false;
    return true;
}

// Where a node stands in the script, as (line, column), from its start or its end.
std::pair<long, long> start_of(py::handle node) {
    return {node.attr("lineno").cast<long>(), node.attr("col_offset").cast<long>()};
}
std::pair<long, long> end_of(py::handle node) {
    return {node.attr("end_lineno").cast<long>(), node.attr("end_col_offset").cast<long>()};
}

// Whether the value `loop` leaves in `name` can be read: whether a Name `name` stands in the
// scope of the depth-0 block around `ci` outside `loop`, other than as a declaration without a
// value, after the loop, in a function (which may run later), or anywhere when a loop of the
// scope runs `loop` again. A name the rewriting made, which has no place, counts; a loop it
// made is none of the script's.
bool used_outside(const py::object &ci, const py::object &loop, const std::string &name) {
    std::unordered_set<PyObject *> inside;
    for (py::handle item : walk_tree(loop))
        inside.insert(item.ptr());
    auto named = [&](py::handle item) {
        return is_a(item, "Name") && text_of(item.attr("id")) == name;
    };
    py::object scope = depth0_block(ci).attr("node");
    bool repeated = false;
    for (py::handle item : walk_tree(scope))
        if (!inside.count(item.ptr()) && item.ptr() != scope.ptr() &&
            (is_a(item, "For") || is_a(item, "While") || is_a(item, "AsyncFor")) &&
            has_place(item) && start_of(item) < start_of(loop) && end_of(loop) <= end_of(item))
            repeated = true;
    std::unordered_set<PyObject *> declared;
    for (py::handle item : walk_tree(scope)) {
        if (inside.count(item.ptr()))
            continue;
        if (is_a(item, "AnnAssign") && item.attr("value").is_none()) {
            declared.insert(item.attr("target").ptr());
        } else if (item.ptr() != scope.ptr() &&
                   (is_a(item, "FunctionDef") || is_a(item, "AsyncFunctionDef") ||
                    is_a(item, "Lambda"))) {
            for (py::handle deferred : walk_tree(item))
                if (named(deferred))
                    return true;
        } else if (named(item) && !declared.count(item.ptr()) &&
                   (repeated || !has_place(item) || end_of(loop) <= start_of(item))) {
            return true;
        }
    }
    return false;
}

// A name that the body assigns on some iterations only holds, after the loop, what the thread
// that ran the last iteration last stored in it, or nothing it stored at all: Python's value,
// that of the last iteration that assigned it, is not known. Where the name is used outside the
// loop, the compile stops.
void refuse_values_of_some_iterations(const py::object &node, const py::object &ci) {
    const auto stored_names = stored_on_some_iterations(node.attr("body"));
    const std::pair<const std::string, py::object> *first = nullptr;
    for (const auto &stored : stored_names)
        if (used_outside(ci, node, stored.first) &&
            (!first ||
             stored.second.attr("lineno").cast<long>() < first->second.attr("lineno").cast<long>()))
            first = &stored;
    if (first)
        script_fault("ZEL.range: `" + first->first +
                     "` is assigned on only some iterations of the parallel loop, so its value "
                     "after the loop is not known; assign it on every iteration, or use range. "
                     "line " +
                     line_of(first->second));
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

    if (in_compiled_code(cls, ci))
        script_fault("ZEL.range: 병렬 블럭을 중첩해서 사용할 수 없습니다. line " + line_of(node));
    py::object body = new_block(cls, node, ci).attr("set_attr")(tag_name(cls, compiled_tag), true);
    reform_stmt(cls, node.attr("body"), body);
    if (sequential)
        return;
    keep_updates_private(node.attr("body"), {});
    refuse_values_of_some_iterations(node, ci);
    std::string check = range_check(cls, node, ci);
    type_large_bounds(call);
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

// The names a loop binds outside compiled code are the block's, as an assignment's are: a
// later annotation of one of them leaves it the Python object it already is, where a C
// declaration after its first use would not build.
void bind_loop_targets(const py::object &cls, const py::object &node, const py::object &ci) {
    if (in_compiled_code(cls, ci))
        return;
    for (py::handle item : walk_tree(node.attr("target")))
        if (is_a(item, "Name") && !truthy(symbol_of(ci, item)))
            bind(ci, item, node);
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
            if (in_compiled_code(cls, ci))
                type_loop_index(g, cls, node, ci);
            reform_projection(cls, node, ci);
            return;
        }
    }
    reform_stmt(cls, iter, ci);
    bind_loop_targets(cls, node, ci);
    hold_loop_texts(cls, node, ci);
    if (in_compiled_code(cls, ci))
        type_loop_index(g, cls, node, ci);
    reform_stmt(cls, node.attr("body"), new_block(cls, node, ci));
}

} // namespace

void add_loop_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_For", reform_For, py::arg("cls"), py::arg("node"), py::arg("ci"));
}

} // namespace zel
