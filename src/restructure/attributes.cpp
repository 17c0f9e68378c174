// Attributes: a field access of a record element, a struct pointer or a lookup call's element.
#include "restructure/record_pointers.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/tags.hpp"
#include "restructure/text_fields.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/text.hpp"

#include <string>

namespace zel {
namespace {

// The record description of the struct that `value` is: an element of a typed array of
// records, or the record a struct pointer points to; else None.
py::object record_of_value(const py::object &cls, const py::object &value, const py::object &ci) {
    py::object view = get_tag(value, tag_name(cls, view_tag));
    if (!view.is_none())
        return struct_view(cls, view[py::int_(0)])[1];
    if (!is_a(value, "Name"))
        return py::none();
    py::object sym = variable_of(cls, ci, value);
    std::string cdf = truthy(sym) ? type_text(sym.attr("cdf")) : "";
    return is_pointer_type(cdf) ? record_of_pointer(cls, cdf) : py::none();
}

// A field access on a lookup call reads the looked-up element of the table; its text fields
// read and compare like those of any element, as do those written as attributes of an element
// (`tbl[i].name`) or of a struct pointer (`p.name`).
void reform_Attribute(const py::object &cls, const py::object &node, const py::object &ci) {
    reform_stmt(cls, node.attr("value"), ci);
    py::object table = get_tag(node.attr("value"), tag_name(cls, lookup_tag));
    if (!truthy(table)) {
        py::object sinfo = record_of_value(cls, node.attr("value"), ci);
        if (truthy(sinfo))
            mark_text_field(cls, node, sinfo, ci);
        return;
    }
    node.attr("value") = ast_class("Subscript")(table, node.attr("value"));
    py::object sym = variable_of(cls, ci, table);
    if (!truthy(sym))
        return;
    py::object sinfo = struct_view(cls, sym.attr("view"))[1];
    if (truthy(sinfo))
        mark_text_field(cls, node, sinfo, ci);
}

} // namespace

void add_attribute_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Attribute", reform_Attribute, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
