// Fixed-length text members of records: bounded reads, reads in place, copies where a C
// string is wanted, and padded stores.
#include "restructure/text_fields.hpp"
#include "restructure/blocks.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/symbols.hpp"
#include "support/pyast.hpp"

#include <string>

namespace zel {
namespace {

// The member length of a marked field access or bounded read. Like every tag, it begins with
// an underscore, so the walk never descends into it.
constexpr const char *length_tag = "_text_len_";

// The byte count of a one-dimensional shape: the constant itself or the tuple's one element.
py::object member_length(const py::object &shape) {
    py::object count = is_a(shape, "Tuple") ? py::object(shape.attr("elts")[py::int_(0)]) : shape;
    return count.attr("value");
}

// A C type text as C++ text; "" for None.
std::string type_text(py::handle value) {
    return py::isinstance<py::str>(value) ? value.cast<std::string>() : "";
}

// The C type of the variable in which the statement being walked stores `value`, or "".
std::string stored_type(const py::object &cls, const py::object &value, const py::object &ci) {
    py::object stmt = get_tag(ci, "curr");
    if (!(is_a(stmt, "AnnAssign") || is_a(stmt, "Assign")) ||
        !py::object(stmt.attr("value")).is(value))
        return "";
    if (is_a(stmt, "AnnAssign")) {
        py::object target = stmt.attr("target");
        if (!is_a(target, "Name"))
            return "";
        // A name bound before keeps its type; the annotation declares a new one.
        if (truthy(symbol_of(ci, target)))
            return type_text(cls.attr("get_cdef_type")(target, ci));
        return type_text(cls.attr("proc_vardef")(stmt.attr("annotation"), ci));
    }
    py::list targets = stmt.attr("targets");
    if (py::len(targets) != 1 || !is_a(targets[0], "Name"))
        return "";
    return type_text(cls.attr("get_cdef_type")(targets[0], ci));
}

// The copy of a text that a char* variable points into: `_zel_text_<name>`.
py::str text_copy_name(py::handle name) {
    return py::str("_zel_text_" + text_of(name));
}

py::object stored_name(const py::object &stmt) {
    return is_a(stmt, "AnnAssign") ? stmt.attr("target").attr("id")
                                   : stmt.attr("targets")[py::int_(0)].attr("id");
}

// `s = tbl[i].name` becomes `_zel_text_s = _zel_textcopy_(tbl[i].name, n)` in front of
// `s = _zel_text_s.s`: the member's bytes up to its first NUL, at most n, and a NUL.
void copy_into_variable(const py::object &cls, const py::object &node, const py::object &length,
                        const py::object &ci) {
    py::object stmt = get_tag(ci, "curr");
    py::str copy = text_copy_name(stored_name(stmt));
    declare_hidden(cls, ci, copy, py::str("_zel_textbuf_"), stmt.attr("lineno"));
    py::list args;
    args.append(ast_class("Attribute")(node.attr("value"), node.attr("attr"), ast_class("Load")()));
    args.append(ast_class("Constant")(length));
    py::list targets;
    targets.append(ast_class("Name")(copy, ast_class("Store")()));
    py::object call = ast_class("Call")(ast_class("Name")("_zel_textcopy_"), args, py::list());
    insert_before(cls, ci, stmt, ast_class("Assign")(targets, call));
    node.attr("value") = ast_class("Name")(copy, ast_class("Load")());
    node.attr("attr") = py::str("s");
}

// The field access becomes _zel_field_(field, length): bytes up to the first NUL or the length.
void make_bounded_read(const py::object &node, const py::object &length) {
    py::list args;
    args.append(ast_class("Attribute")(node.attr("value"), node.attr("attr"), node.attr("ctx")));
    args.append(ast_class("Constant")(length));
    set_class(node, "Call");
    py::delattr(node, "value");
    py::delattr(node, "attr");
    py::delattr(node, "ctx");
    node.attr("func") = ast_class("Name")("_zel_field_");
    node.attr("args") = args;
    node.attr("keywords") = py::list();
}

} // namespace

void mark_text_field(const py::object &cls, const py::object &node, const py::object &sinfo,
                     const py::object &ci) {
    py::list var = sinfo.attr("var"), typ = sinfo.attr("typ"), shp = sinfo.attr("shp");
    for (size_t i = 0; i < py::len(var); ++i) {
        if (!equals(var[i], node.attr("attr")) || !equals(typ[i], py::str("char")) ||
            cls.attr("dim_from_shape")(shp[i]).cast<long>() != 1)
            continue;
        py::object length = member_length(shp[i]);
        set_tag(node, cls.attr("didx"), py::str("char*"));
        if (is_a(get_tag(node, "ctx"), "Load") && stored_type(cls, node, ci) == "char*") {
            copy_into_variable(cls, node, length, ci);
            return;
        }
        set_tag(node, length_tag, length);
        if (is_a(get_tag(node, "ctx"), "Load") && !truthy(ci.attr("get_attr")(cls.attr("midx"))))
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
    py::object constant = ast_class("Constant");
    py::list args;
    target->field.attr("ctx") = ast_class("Load")();
    args.append(target->field);
    args.append(constant(target->length));
    args.append(source ? source->field : value);
    args.append(constant(source ? source->length : target->length));
    set_class(node, "Expr");
    py::delattr(node, "targets");
    node.attr("value") = ast_class("Call")(ast_class("Name")("_zel_setfield_"), args, py::list());
}

void pass_text_arguments(const py::object &node) {
    py::list args = node.attr("args");
    for (size_t i = 0; i < py::len(args); ++i) {
        std::optional<TextField> text = text_field_of(args[i]);
        if (!text || !is_a(args[i], "Attribute"))
            continue;
        py::list copy_args;
        copy_args.append(text->field);
        copy_args.append(ast_class("Constant")(text->length));
        py::object copy =
            ast_class("Call")(ast_class("Name")("_zel_textcopy_"), copy_args, py::list());
        args[i] = ast_class("Attribute")(copy, "s", ast_class("Load")());
    }
}

namespace {

void reform_Return(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object value = node.attr("value");
    if (value.is_none())
        return;
    cls.attr("reform_Stmt")(value, ci);
    py::object function = depth0_block(ci).attr("node");
    if (!is_a(function, "FunctionDef") ||
        !equals(get_tag(function, cls.attr("didx")), py::str("char*")))
        return;
    py::object length;
    if (std::optional<TextField> text = text_field_of(value); text && is_a(value, "Attribute"))
        length = text->length;
    else if (is_a(value, "Name") && declarations(ci).contains(text_copy_name(value.attr("id"))))
        length = py::int_(-1);
    else
        return;
    py::list args;
    args.append(value);
    args.append(ast_class("Constant")(length));
    node.attr("value") = ast_class("Call")(ast_class("Name")("_zel_textret_"), args, py::list());
}

} // namespace

void add_text_field_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Return", reform_Return, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
