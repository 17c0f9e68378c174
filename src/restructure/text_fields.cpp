// Fixed-length text members of records: bounded reads, reads in place, and padded stores.
#include "restructure/text_fields.hpp"
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

bool read_in_place(const py::object &cls, const py::object &node, const py::object &ci) {
    return truthy(ci.attr("get_attr")(cls.attr("midx"))) || stored_type(cls, node, ci) == "char*";
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
        set_tag(node, length_tag, length);
        if (is_a(get_tag(node, "ctx"), "Load") && !read_in_place(cls, node, ci))
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

} // namespace zel
