// Subscripts: a string subscript of a record is a field access, a slice of a typed array read
// by the interpreter is numpy's, and a subscript of a text variable is one of its bytes.
#include "restructure/array_slices.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/names.hpp"
#include "restructure/record_pointers.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/tags.hpp"
#include "restructure/text_fields.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"
#include "support/text.hpp"

#include <string>

namespace zel {
namespace {

bool is_string_constant(py::handle node) {
    return is_a(node, "Constant") && py::isinstance<py::str>(node.attr("value"));
}

// s["field"] through a struct pointer is the field access s.field.
void reform_pointer_subscript(const py::object &cls, const py::object &node, const py::object &ci,
                              const std::string &cdf) {
    py::object index = node.attr("slice");
    if (!is_string_constant(index)) {
        script_fault("구조체 첨자는 문자열이어야 합니다.", unparse(node), "line",
                     node.attr("lineno"));
    }
    set_class(node, "Attribute");
    node.attr("attr") = index.attr("value");
    // Text members are handled here as they are on elements of a table.
    py::object sinfo = record_of_pointer(cls, cdf);
    if (!sinfo.is_none())
        mark_text_field(cls, node, sinfo, ci);
}

void reform_view_subscript(const py::object &cls, const py::object &node, const py::object &ci,
                           const py::object &sym, long dims) {
    py::list one_dimension;
    one_dimension.append(constant(0));
    set_tag(node, tag_name(cls, view_tag),
            py::make_tuple(sym.attr("view"), bare_tuple(one_dimension)));
    py::object proj = ci.attr("get_proj")();
    if (truthy(proj) && static_cast<long>(py::len(proj["args"])) == dims &&
        !is_a(node.attr("slice"), "Tuple"))
        node.attr("slice") = projection_index(proj, node.attr("slice"));
}

// tbl[i]["name"] of an element of a typed array of records is the field access tbl[i].name;
// a text member is marked as one.
void reform_element_subscript(const py::object &cls, const py::object &node, const py::object &ci) {
    reform_stmt(cls, node.attr("value"), ci);
    py::object view = attr_or(node.attr("value"), tag_name(cls, view_tag),
                              py::make_tuple(py::none(), py::none()));
    py::object element_type = view[py::int_(0)];
    py::object index = node.attr("slice");
    if (element_type.is_none() || !is_string_constant(index))
        return;
    set_class(node, "Attribute");
    node.attr("attr") = index.attr("value");
    py::delattr(node, "slice");
    py::tuple record = struct_view(cls, element_type);
    py::object sinfo = record[1];
    if (!truthy(sinfo))
        return;
    mark_text_field(cls, node, sinfo, ci);
}

// A slice of a typed array read where the interpreter lock is held is numpy's slice of it:
// Cython's would be a memory view, without numpy's methods, and would not count negative
// bounds from the end. Stores into slices are made the same way (assignments.cpp).
void read_slice_as_numpy(const py::object &cls, const py::object &node, const py::object &ci,
                         size_t dims) {
    py::object numpy_name = cls.attr("numpy_name");
    if (!truthy(numpy_name) || !is_a(get_tag(node, "ctx"), "Load") || in_compiled_code(cls, ci) ||
        truthy(ci.attr("get_proj")()) || !takes_a_slice(node.attr("slice"), dims))
        return;
    node.attr("value") = as_numpy_array(numpy_name, node.attr("value").attr("id"));
}

// `tbl['v']` of a typed array of records is numpy's field access, the column of every row:
// the subscript goes through the array as numpy's. Compiled code cannot hold the column, and
// Cython would take a one-letter name for its character code, so there it is a fault.
bool read_field_as_numpy(const py::object &cls, const py::object &node, const py::object &ci,
                         const py::object &sym) {
    py::object numpy_name = cls.attr("numpy_name");
    if (!is_string_constant(node.attr("slice")) || !truthy(numpy_name) ||
        struct_view(cls, sym.attr("view"))[1].is_none())
        return false;
    if (in_compiled_code(cls, ci))
        script_fault("`" + unparse(node) +
                     "` is a column of a record array, a numpy array that compiled code cannot "
                     "hold; index a row first, `" +
                     text_of(node.attr("value").attr("id")) + "[i][" + unparse(node.attr("slice")) +
                     "]`. line " + text_of(node.attr("lineno")));
    node.attr("value") = as_numpy_array(numpy_name, node.attr("value").attr("id"));
    return true;
}

// A subscript of a text variable outside compiled code is one of its bytes: `s[:4]` is
// `_zel_textbytes_(s)[:4]`, bytes as in Python (an index gives an int, negative bounds count
// from the end). Compiled code has no bytes; there it stays a fault.
bool read_text_as_bytes(const py::object &cls, const py::object &node, const py::object &ci) {
    if (in_compiled_code(cls, ci))
        return false;
    use_text_helpers(ci);
    py::list args;
    args.append(node.attr("value"));
    node.attr("value") = call(name_load(text_bytes), args);
    return true;
}

void reform_Subscript(const py::object &cls, const py::object &node, const py::object &ci) {
    reform_stmt(cls, node.attr("slice"), ci);
    py::object value = node.attr("value");
    if (!is_a(value, "Name")) {
        reform_element_subscript(cls, node, ci);
        return;
    }
    // Inside a projection loop every subscript of a name, typed or not, orders its statement.
    set_tag(node, tag_name(cls, time_slice_tag), time_slice(cls, node.attr("slice"), ci));
    py::object sym = variable_of(cls, ci, value);
    if (!truthy(sym))
        return;
    std::string cdf = type_text(sym.attr("cdf"));
    if (cdf == text_type && read_text_as_bytes(cls, node, ci))
        return;
    if (is_pointer_type(cdf)) {
        reform_pointer_subscript(cls, node, ci, cdf);
        return;
    }
    if (truthy(sym.attr("view"))) {
        if (read_field_as_numpy(cls, node, ci, sym))
            return;
        long dims = dimensions(cls, sym.attr("shape"));
        if (dims > 0)
            reform_view_subscript(cls, node, ci, sym, dims);
        read_slice_as_numpy(cls, node, ci, static_cast<size_t>(dims));
    }
}

} // namespace

void add_subscript_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Subscript", reform_Subscript, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
