// Fixed-length text members of records: bounded reads, reads in place, copies where a C
// string is wanted, and padded stores.
#include "restructure/text_fields.hpp"
#include "restructure/blocks.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/tags.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"

#include <string>
#include <vector>

namespace zel {
namespace {

// The member length of a marked field access or bounded read. Like every tag, it begins with
// an underscore, so the walk never descends into it.
constexpr const char *length_tag = "_text_len_";

// Marks the text of a variable's own copy of a member, which nothing else frees.
constexpr const char *owned_tag = "_text_owned_";

// The byte count of a one-dimensional shape: the constant itself or the tuple's one element.
py::object member_length(const py::object &shape) {
    py::object count = is_a(shape, "Tuple") ? py::object(shape.attr("elts")[py::int_(0)]) : shape;
    return count.attr("value");
}

// The statement being walked. The branches of a conditional expression are walked in a block
// of their own, which holds none.
py::object statement_being_walked(py::object block) {
    while (get_tag(block, "curr").is_none() && truthy(block.attr("prev")))
        block = block.attr("prev");
    return get_tag(block, "curr");
}

// The `global` statement of the function around `ci` that names `name`, or None.
py::object global_statement(const py::object &ci, py::handle name) {
    py::object scope = depth0_block(ci).attr("node");
    if (!is_a(scope, "FunctionDef") && !is_a(scope, "AsyncFunctionDef"))
        return py::none();
    for (py::handle node : walk_tree(scope))
        if (is_a(node, "Global"))
            for (py::handle global : node.attr("names"))
                if (py_equal(global, name))
                    return py::reinterpret_borrow<py::object>(node);
    return py::none();
}

// The C type of the variable that a store of `name` in `ci` assigns, or "": the declaration in
// its C scope (the module's for a name the function declares global), which a declaration
// hoisted out of a branch or a loop is the only record of, else its typed binding (a parameter).
std::string stored_name_type(const py::object &cls, const py::object &ci, const py::object &name) {
    py::object scope = global_statement(ci, name).is_none() ? ci : ci.attr("get_root")();
    py::object declaration = declarations(scope).attr("get")(name);
    if (!declaration.is_none())
        return type_text(get_tag(declaration, tag_name(cls, dtype_tag)));
    return type_text(cdef_type(cls, name, ci));
}

// The C type of the variable in which the statement being walked stores `value`, or "".
std::string stored_type(const py::object &cls, const py::object &value, const py::object &ci) {
    py::object stmt = statement_being_walked(ci);
    if (!(is_a(stmt, "AnnAssign") || is_a(stmt, "Assign")) ||
        !py::object(stmt.attr("value")).is(value))
        return "";
    if (is_a(stmt, "AnnAssign")) {
        py::object target = stmt.attr("target");
        if (!is_a(target, "Name"))
            return "";
        // A name bound before keeps its type; the annotation declares a new one.
        if (truthy(symbol_of(ci, target)))
            return stored_name_type(cls, ci, target.attr("id"));
        return type_text(annotation_type(cls, stmt.attr("annotation"), ci));
    }
    py::list targets = stmt.attr("targets");
    if (py::len(targets) != 1 || !is_a(targets[0], "Name"))
        return "";
    return stored_name_type(cls, ci, targets[0].attr("id"));
}

// The copy of a text that a char* variable points into: `_zel_text_<name>`.
py::str text_copy_name(py::handle name) {
    return py::str(text_copy_prefix + text_of(name));
}

py::object stored_name(const py::object &stmt) {
    return is_a(stmt, "AnnAssign") ? stmt.attr("target").attr("id")
                                   : stmt.attr("targets")[py::int_(0)].attr("id");
}

// The module's functions by name, the first definition of each: found in one pass over the
// module body, kept beside its block, so that asking for every call costs the same however
// long the script is. The rewriting adds no function definition to the module body.
py::dict module_functions(const py::object &root) {
    py::object found = get_tag(root, "_module_functions_");
    if (!found.is_none())
        return found;
    py::dict functions;
    for (py::handle stmt : root.attr("node").attr("body"))
        if (is_a(stmt, "FunctionDef") && !functions.contains(stmt.attr("name")))
            functions[stmt.attr("name")] = stmt;
    set_tag(root, "_module_functions_", functions);
    return functions;
}

// The definition of the C function of the module that returns a text which `call` calls, or
// None.
py::object text_function(const py::object &cls, const py::object &call, py::object block) {
    if (!is_a(call, "Call") || !is_a(call.attr("func"), "Name"))
        return py::none();
    while (truthy(block.attr("prev")))
        block = block.attr("prev");
    py::object function = module_functions(block).attr("get")(call.attr("func").attr("id"));
    if (!function.is_none() &&
        py_equal(get_tag(function, tag_name(cls, dtype_tag)), py::str(text_type)))
        return function;
    return py::none();
}

bool returns_text(const py::object &cls, const py::object &call, const py::object &block) {
    return !text_function(cls, call, block).is_none();
}

// The parts of `value` that may be its result as they are: `value` itself, the branches of a
// conditional, the operands of `and` and `or`.
std::vector<py::object> result_parts(const py::object &value) {
    std::vector<py::object> parts{value};
    for (size_t i = 0; i < parts.size(); ++i) {
        py::object part = parts[i];
        if (is_a(part, "IfExp")) {
            parts.push_back(part.attr("body"));
            parts.push_back(part.attr("orelse"));
        } else if (is_a(part, "BoolOp")) {
            for (py::handle operand : part.attr("values"))
                parts.push_back(py::reinterpret_borrow<py::object>(operand));
        }
    }
    return parts;
}

// Whether a text function's result may be what `value` gives.
bool holds_returned_text(const py::object &cls, const py::object &value, const py::object &ci) {
    for (const py::object &part : result_parts(value))
        if (returns_text(cls, part, ci))
            return true;
    return false;
}

// `value` is the variable's own copy of a text, as `copy_text_variable` takes it.
bool is_shared_copy(const py::object &value) {
    return is_a(value, "Call") && is_a(value.attr("func"), "Name") &&
           py_equal(value.attr("func").attr("id"), py::str(text_share));
}

// The loop body assigns the text variable `name` something other than a copy of its own: a
// record's text member, or a text function's result, which the variable copies.
bool assigned_otherwise(const py::object &cls, const py::object &block, const py::object &name) {
    for (py::handle node : walk_tree(block.attr("node"))) {
        py::object target;
        if (is_a(node, "Assign") && py::len(node.attr("targets")) == 1)
            target = node.attr("targets")[py::int_(0)];
        else if (is_a(node, "AnnAssign") && !node.attr("value").is_none())
            target = node.attr("target");
        else
            continue;
        py::object value = node.attr("value");
        if (is_a(target, "Name") && py_equal(target.attr("id"), name) &&
            !is_a(value, "Subscript") && !is_a(value, "Attribute") && !is_shared_copy(value) &&
            !holds_returned_text(cls, value, block))
            return true;
    }
    return false;
}

// Each thread of a parallel loop points a text variable into its own copy of the text, which
// ends with the loop; the copy of the last iteration is what the variable's copy holds after
// it. So a variable that the last iteration set is pointed there again after the loop:
// `_zel_was_<name> = name` goes in front of the loop and
// `name = _zel_textback_(name, _zel_was_<name>, _zel_text_<name>.s)` after it.
void repoint_after_loop(const py::object &cls, const py::object &loop, const py::object &name) {
    py::object before = loop.attr("prev"), stmt = loop.attr("node");
    py::str was(text_before_prefix + text_of(name));
    if (declarations(before).contains(was))
        return;
    if (assigned_otherwise(cls, loop, name))
        script_fault("ZEL.range: `" + text_of(name) +
                     "` is set from a record's text and from another value in a parallel loop, "
                     "line " +
                     text_of(stmt.attr("lineno")));
    declare_hidden(cls, before, was, py::str(text_type), stmt.attr("lineno"));
    insert_before(cls, before, stmt, assign(name_store(was), name_load(name)));
    py::list args;
    args.append(name_load(name));
    args.append(name_load(was));
    args.append(attribute_load(name_load(text_copy_name(name)), "s"));
    insert_after(cls, before, stmt,
                 assign(name_store(name), call(name_load(py::str(text_back)), args)));
}

// `s = tbl[i].name` becomes `_zel_text_s = _zel_textcopy_(tbl[i].name, n)` in front of
// `s = _zel_text_s.s`: the member's bytes up to its first NUL, at most n, and a NUL.
void copy_into_variable(const py::object &cls, const py::object &node, const py::object &length,
                        const py::object &ci) {
    py::object stmt = get_tag(ci, "curr");
    py::str copy = text_copy_name(stored_name(stmt));
    declare_hidden(cls, ci, copy, py::str(text_buffer_type), stmt.attr("lineno"));
    py::list args;
    args.append(attribute_load(node.attr("value"), node.attr("attr")));
    args.append(constant(length));
    py::object copied = call(bare_name(text_copy), args);
    insert_before(cls, ci, stmt, assign(name_store(copy), copied));
    node.attr("value") = name_load(copy);
    node.attr("attr") = py::str("s");
    set_tag(node, owned_tag, py::bool_(true));
    py::object loop = parallel_body(cls, ci);
    if (!loop.is_none())
        repoint_after_loop(cls, loop, stored_name(stmt));
}

// The field access becomes _zel_field_(field, length): bytes up to the first NUL or the length.
void make_bounded_read(const py::object &node, const py::object &length) {
    py::list args;
    args.append(ast_class("Attribute")(node.attr("value"), node.attr("attr"), node.attr("ctx")));
    args.append(constant(length));
    set_class(node, "Call");
    py::delattr(node, "value");
    py::delattr(node, "attr");
    py::delattr(node, "ctx");
    node.attr("func") = bare_name(field_bytes);
    node.attr("args") = args;
    node.attr("keywords") = py::list();
}

} // namespace

void use_text_helpers(const py::object &ci) {
    set_tag(ci.attr("get_root")().attr("node"), text_helpers_tag, py::bool_(true));
}

void mark_text_field(const py::object &cls, const py::object &node, const py::object &sinfo,
                     const py::object &ci) {
    py::list var = sinfo.attr("var"), typ = sinfo.attr("typ"), shp = sinfo.attr("shp");
    for (size_t i = 0; i < py::len(var); ++i) {
        if (!py_equal(var[i], node.attr("attr")) || !py_equal(typ[i], py::str(text_member_type)) ||
            dimensions(cls, shp[i]) != 1)
            continue;
        py::object length = member_length(shp[i]);
        set_tag(node, tag_name(cls, dtype_tag), py::str(text_type));
        if (is_a(get_tag(node, "ctx"), "Load") && stored_type(cls, node, ci) == text_type) {
            copy_into_variable(cls, node, length, ci);
            return;
        }
        set_tag(node, length_tag, length);
        if (is_a(get_tag(node, "ctx"), "Load") && !in_compiled_code(cls, ci))
            make_bounded_read(node, length);
        return;
    }
}

std::optional<TextField> text_field_of(const py::object &node) {
    py::object length = get_tag(node, length_tag);
    if (length.is_none())
        return std::nullopt;
    py::object field = is_a(node, "Call") ? py::object(node.attr("args")[py::int_(0)]) : node;
    return TextField{field, length};
}

void store_text_field(const py::object &node) {
    py::list targets = node.attr("targets");
    if (py::len(targets) != 1)
        return;
    std::optional<TextField> target = text_field_of(targets[0]);
    if (!target)
        return;
    // A text member as the value is copied within its own length too.
    py::object value = node.attr("value");
    std::optional<TextField> source = text_field_of(value);
    py::list args;
    target->field.attr("ctx") = ast_class("Load")();
    args.append(target->field);
    args.append(constant(target->length));
    args.append(source ? source->field : value);
    args.append(constant(source ? source->length : target->length));
    set_class(node, "Expr");
    py::delattr(node, "targets");
    node.attr("value") = call(bare_name(set_field), args);
}

namespace {

// Marks a call whose result is held in a copy of its own: a second walk leaves it.
constexpr const char *held_tag = "_text_held_";

// `t = f(...)`: the text that f returns in its thread's buffer is copied into `t`'s own, as
// `_zel_text_t = _zel_textkeep_(t)` and `t = _zel_textshare_(t, _zel_kept_, _zel_text_t.s)`
// after the statement, so a later call leaves `t` as it was.
void keep_returned_text(const py::object &cls, const py::object &stmt, const py::object &ci) {
    use_text_helpers(ci);
    py::object name = stored_name(stmt);
    py::str copy = text_copy_name(name);
    declare_hidden(cls, ci, copy, py::str(text_buffer_type), stmt.attr("lineno"));
    py::list args;
    args.append(name_load(name));
    args.append(name_load(py::str(returned_text)));
    args.append(attribute_load(name_load(copy), "s"));
    insert_after(cls, ci, stmt,
                 assign(name_store(name), call(name_load(py::str(text_share)), args)));
    py::list keep;
    keep.append(name_load(name));
    insert_after(cls, ci, stmt,
                 assign(name_store(copy), call(name_load(py::str(text_keep)), keep)));
    py::object loop = parallel_body(cls, ci);
    if (!loop.is_none())
        repoint_after_loop(cls, loop, name);
}

// How the statement being walked uses a call's result.
enum class ResultUse {
    // Returned, which the caller takes as a result again, or stored in a text variable, which
    // copies it (`keep_returned_text`).
    handed_on,
    // Stored in anything else, as a variable whose C type Cython takes from the value.
    stored,
    // In an expression.
    used,
};

ResultUse result_use(const py::object &cls, const py::object &call, const py::object &ci) {
    py::object stmt = statement_being_walked(ci);
    bool returns = is_a(stmt, "Return") && !stmt.attr("value").is_none();
    bool stores = (is_a(stmt, "Assign") && py::len(stmt.attr("targets")) == 1) ||
                  (is_a(stmt, "AnnAssign") && !stmt.attr("value").is_none());
    if (!returns && !stores)
        return ResultUse::used;
    for (const py::object &part : result_parts(stmt.attr("value")))
        if (part.is(call))
            return returns || stored_type(cls, stmt.attr("value"), ci) == text_type
                       ? ResultUse::handed_on
                       : ResultUse::stored;
    return ResultUse::used;
}

// The single target that the statement being walked stores in.
py::object stored_target(const py::object &ci) {
    py::object stmt = statement_being_walked(ci);
    return is_a(stmt, "AnnAssign") ? py::object(stmt.attr("target"))
                                   : py::object(stmt.attr("targets")[py::int_(0)]);
}

// A hidden variable `_zel_result_<k>` for one call's result, declared in `ci`'s scope.
py::str result_variable(const py::object &cls, const py::object &ci, const py::object &lineno) {
    py::dict declared = declarations(ci);
    for (int k = 1;; ++k) {
        py::str name(call_result_prefix + std::to_string(k));
        if (!declared.contains(name)) {
            declare_hidden(cls, ci, name, py::str(held_text_type), lineno);
            return name;
        }
    }
}

// Ordinary code of a module or a function, where a text variable may take a Python value.
bool holds_python_values(const py::object &cls, const py::object &ci) {
    return !in_compiled_code(cls, ci) && !is_a(depth0_block(ci).attr("node"), "ClassDef");
}

// The reference kept beside a text variable: `_zel_hold_<name>`, a Python object declared once
// in the variable's scope: the module's for a name a function declares global, which then
// declares the reference global too.
py::str hold_variable(const py::object &cls, const py::object &ci, py::handle name,
                      const py::object &lineno) {
    py::str hold(text_hold_prefix + text_of(name));
    py::object global = global_statement(ci, name);
    if (global.is_none()) {
        declare_hidden(cls, ci, hold, py::str(object_type), lineno);
        return hold;
    }
    declare_hidden(cls, ci.attr("get_root")(), hold, py::str(object_type), lineno);
    py::list names = global.attr("names");
    if (!names.contains(hold))
        names.append(hold);
    return hold;
}

// The text variables that `target` stores in, as Name nodes: the target itself, or the names
// a tuple or list target unpacks into.
std::vector<py::object> stored_texts(const py::object &cls, const py::object &target,
                                     const py::object &ci) {
    std::vector<py::object> names;
    for (py::handle node : walk_tree(target))
        if (is_a(node, "Name") && is_a(attr_or(node, "ctx"), "Store") &&
            stored_name_type(cls, ci, node.attr("id")) == text_type)
            names.push_back(py::reinterpret_borrow<py::object>(node));
    return names;
}

// Every text variable in `target` stores into its reference instead; the returned statements,
// `name = _zel_hold_<name>`, point each at the bytes its reference owns.
std::vector<py::object> store_into_holds(const py::object &cls, const py::object &target,
                                         const py::object &ci, const py::object &lineno) {
    std::vector<py::object> repoints;
    for (const py::object &name : stored_texts(cls, target, ci)) {
        py::object id = name.attr("id");
        py::str hold = hold_variable(cls, ci, id, lineno);
        name.attr("id") = hold;
        repoints.push_back(assign(name_store(id), name_load(hold)));
    }
    return repoints;
}

// A text variable takes a Python value as a pointer into that value's bytes, which it does not
// keep alive. So the value goes into the variable's reference, which owns it (a C string is
// made a bytes copy of its own there), and the variable points into it: `s = v` is
// `_zel_hold_s = v` then `s = _zel_hold_s`. A constant lives as long as the module, and a copy
// of a member or a text function's result is the variable's own already.
void hold_assigned_texts(const py::object &cls, const py::object &stmt, bool stores_text,
                         const py::object &ci) {
    if (!is_a(stmt, "Assign") && !is_a(stmt, "AnnAssign"))
        return; // a store into a text member, made already
    py::object value = stmt.attr("value");
    py::object lineno = stmt.attr("lineno");
    if (value.is_none() || is_a(value, "Constant") || truthy(get_tag(value, owned_tag)))
        return;
    if (is_a(stmt, "AnnAssign")) {
        if (!stores_text)
            return;
        py::str hold = hold_variable(cls, ci, stmt.attr("target").attr("id"), lineno);
        insert_before(cls, ci, stmt, assign(name_store(hold), value));
        stmt.attr("value") = name_load(hold);
        return;
    }
    std::vector<py::object> repoints;
    for (py::handle target : stmt.attr("targets"))
        for (py::object &repoint :
             store_into_holds(cls, py::reinterpret_borrow<py::object>(target), ci, lineno))
            repoints.push_back(std::move(repoint));
    for (auto it = repoints.rbegin(); it != repoints.rend(); ++it)
        insert_after(cls, ci, stmt, *it);
}

} // namespace

void hold_loop_texts(const py::object &cls, const py::object &loop, const py::object &ci) {
    if (!holds_python_values(cls, ci))
        return;
    py::list body = loop.attr("body");
    std::vector<py::object> repoints =
        store_into_holds(cls, loop.attr("target"), ci, loop.attr("lineno"));
    for (auto it = repoints.rbegin(); it != repoints.rend(); ++it) {
        (*it).attr("lineno") = loop.attr("lineno");
        py::setattr(*it, tag_name(cls, walked_tag), py::bool_(true));
        body.insert(0, *it);
    }
}

void hold_text_result(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object function = text_function(cls, node, ci);
    if (function.is_none() || truthy(get_tag(node, held_tag)))
        return;
    ResultUse use = result_use(cls, node, ci);
    if (use == ResultUse::handed_on)
        return;
    use_text_helpers(ci);
    py::object held_call = call(node.attr("func"), node.attr("args"), node.attr("keywords"));
    set_tag(held_call, held_tag, py::bool_(true));
    py::list hold_args;
    hold_args.append(held_call);
    if (use == ResultUse::stored) {
        py::object target = stored_target(ci);
        bool compiled = in_compiled_code(cls, ci);
        if (compiled && is_a(target, "Name"))
            script_fault("`" + text_of(target.attr("id")) + "` takes the text that `" +
                         unparse(held_call) + "` returns but has no text type: annotate it `" +
                         text_of(target.attr("id")) + ": " + unparse(function.attr("returns")) +
                         "`. line " + text_of(node.attr("lineno")));
        // Interpreted code stores it as bytes: Cython would make a variable without a type a C
        // string, pointing into a copy that ends with the statement.
        if (!compiled) {
            node.attr("func") = name_load(py::str(text_bytes));
            node.attr("args") = hold_args;
            node.attr("keywords") = py::list();
            set_tag(node, held_tag, py::bool_(true));
            return;
        }
    }
    py::object held =
        ast_class("NamedExpr")(name_store(result_variable(cls, ci, node.attr("lineno"))),
                               call(name_load(py::str(text_hold)), hold_args));
    py::list args;
    args.append(held);
    node.attr("func") = name_load(py::str(held_text));
    node.attr("args") = args;
    node.attr("keywords") = py::list();
    set_tag(node, held_tag, py::bool_(true));
    set_tag(node, tag_name(cls, dtype_tag), py::str(text_type));
}

void copy_text_variable(const py::object &cls, const py::object &stmt, const py::object &ci) {
    py::object value = stmt.attr("value");
    bool stores_text = stored_type(cls, value, ci) == text_type;
    if (holds_python_values(cls, ci)) {
        hold_assigned_texts(cls, stmt, stores_text, ci);
        return;
    }
    if (stores_text && holds_returned_text(cls, value, ci)) {
        keep_returned_text(cls, stmt, ci);
        return;
    }
    if (!is_a(value, "Name") || stored_type(cls, value, ci) != text_type)
        return;
    py::object name = stored_name(stmt);
    py::str source = text_copy_name(value.attr("id")), copy = text_copy_name(name);
    if (py_equal(name, value.attr("id")) || !declarations(ci).contains(source))
        return;
    use_text_helpers(ci);
    declare_hidden(cls, ci, copy, py::str(text_buffer_type), stmt.attr("lineno"));
    insert_before(cls, ci, stmt, assign(name_store(copy), name_load(source)));
    py::list args;
    args.append(value);
    args.append(attribute_load(name_load(source), "s"));
    args.append(attribute_load(name_load(copy), "s"));
    stmt.attr("value") = call(name_load(py::str(text_share)), args);
    py::object loop = parallel_body(cls, ci);
    if (!loop.is_none())
        repoint_after_loop(cls, loop, name);
}

void measure_text(const py::object &cls, const py::object &node, const py::object &ci) {
    py::list args = node.attr("args");
    if (!in_compiled_code(cls, ci) || py::len(args) != 1 || py::len(node.attr("keywords")) != 0)
        return;
    py::object text = args[0];
    if (!is_text_type(type_text(get_tag(text, tag_name(cls, dtype_tag)))))
        return;
    use_text_helpers(ci);
    py::list measured;
    std::optional<TextField> field = text_field_of(text);
    if (field && is_a(text, "Attribute")) {
        measured.append(field->field);
        measured.append(constant(field->length));
        node.attr("func") = name_load(py::str(bounded_length));
    } else {
        measured.append(text);
        node.attr("func") = name_load(py::str(string_length));
    }
    node.attr("args") = measured;
}

void pass_text_arguments(const py::object &node) {
    py::list args = node.attr("args");
    for (size_t i = 0; i < py::len(args); ++i) {
        std::optional<TextField> text = text_field_of(args[i]);
        if (!text || !is_a(args[i], "Attribute"))
            continue;
        py::list copy_args;
        copy_args.append(text->field);
        copy_args.append(constant(text->length));
        py::object copy = call(bare_name(text_copy), copy_args);
        args[i] = attribute_load(copy, "s");
    }
}

} // namespace zel
