// Names, subscripts, attributes and comparisons: how a script touches typed data. A typed
// array read as a value is handed on as a numpy array, inside a projection loop a bare array
// means its element at the current position, a string subscript of a record is a field
// access, and equality of C strings is a strcmp test.
#include "restructure/array_slices.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/tags.hpp"
#include "restructure/text_fields.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"
#include "support/text.hpp"

#include <optional>
#include <string>

namespace zel {
namespace {

bool is_string_constant(py::handle node) {
    return is_a(node, "Constant") && py::isinstance<py::str>(node.attr("value"));
}

long dimension(const py::object &cls, const py::object &sym) {
    return dimensions(cls, sym.attr("shape"));
}

// The projection's arguments with the count replaced by `last`: the full index. The
// arguments are copied; the projection keeps its own list.
py::object projection_index(const py::object &proj, const py::object &last) {
    py::list elts = py::module_::import("builtins").attr("list")(proj["args"]);
    elts[py::len(elts) - 1] = last;
    return bare_tuple(elts);
}

void reform_Name(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object proj = ci.attr("get_proj")();
    py::object id = node.attr("id");
    if (truthy(proj)) {
        size_t projected_dims = py::len(proj["args"]);
        py::object sym = variable_of(cls, ci, id);
        if (truthy(sym) && truthy(sym.attr("view"))) {
            long dims = dimension(cls, sym);
            py::object index;
            if (dims == 1)
                index = bare_name(proj["var"].attr("id"));
            else if (dims == static_cast<long>(projected_dims))
                index = projection_index(proj, bare_name(proj["var"].attr("id")));
            else {
                script_fault("`" + text_of(id) + "` 배열의 차원을 복원할 수 없습니다. line " +
                             text_of(node.attr("lineno")));
            }
            set_class(node, "Subscript");
            node.attr("value") = bare_name(id);
            node.attr("slice") = index;
            return;
        }
    } else if (is_a(get_tag(node, "ctx"), "Load") &&
               ends_with(type_text(cdef_type(cls, id, ci)), "::1]") && !in_compiled_code(cls, ci)) {
        py::object numpy_name = cls.attr("numpy_name");
        if (truthy(numpy_name)) {
            // Python code receives the typed view as a numpy array.
            py::list args;
            args.append(bare_name(id));
            set_class(node, "Call");
            node.attr("func") = bare_attribute(bare_name(numpy_name), "asarray");
            node.attr("args") = args;
            node.attr("keywords") = py::list();
            return;
        }
    }
    py::object sym = symbol_of(ci, node);
    if (is_variable(cls, sym)) {
        py::object cdf = sym.attr("cdf");
        if (ends_with(type_text(cdf), "*"))
            set_tag(node, tag_name(cls, dtype_tag), cdf);
    }
}

// The record of a struct pointer type "_struct_<key><name>*", or None.
py::object record_of_pointer(const py::object &cls, const std::string &cdf) {
    py::object registry = cls.attr("struct_def");
    if (!truthy(registry))
        return py::none();
    for (auto item : py::dict(registry)) {
        if (struct_type_name(item.first, item.second) + "*" == cdf)
            return py::reinterpret_borrow<py::object>(item.second);
    }
    return py::none();
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
    node.attr("value") = call(name_load("_zel_textbytes_"), args);
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
    if (cdf == "char*" && read_text_as_bytes(cls, node, ci))
        return;
    if (ends_with(cdf, "*")) {
        reform_pointer_subscript(cls, node, ci, cdf);
        return;
    }
    if (truthy(sym.attr("view"))) {
        if (read_field_as_numpy(cls, node, ci, sym))
            return;
        long dims = dimension(cls, sym);
        if (dims > 0)
            reform_view_subscript(cls, node, ci, sym, dims);
        read_slice_as_numpy(cls, node, ci, static_cast<size_t>(dims));
    }
}

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
    return ends_with(cdf, "*") ? record_of_pointer(cls, cdf) : py::none();
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

bool is_text_constant(py::handle node) {
    return is_a(node, "Constant") && (py::isinstance<py::bytes>(node.attr("value")) ||
                                      py::isinstance<py::str>(node.attr("value")));
}

// `a == b` on C strings compares contents: `_zel_strcmp_(a, b) == 0`; so does `a != b` where
// `a` is a C string in C (a char* variable, a text member read in place or a text function's
// held result), which would
// otherwise compare addresses; a member read as bytes is compared by the interpreter. With a
// text member on either side each operand is read within its bound,
// `_zel_fieldcmp_(a, n, b, m)`, where a C string is read at most one byte past the member it
// is compared with.
void reform_Compare(const py::object &cls, const py::object &node, const py::object &ci) {
    reform_stmt(cls, node.attr("left"), ci);
    reform_stmt(cls, node.attr("comparators"), ci);
    py::list ops = node.attr("ops");
    if (py::len(ops) != 1 || !(is_a(ops[0], "Eq") || is_a(ops[0], "NotEq")))
        return;
    bool equality = is_a(ops[0], "Eq");
    py::list comparators = node.attr("comparators");
    py::object left = node.attr("left"), right = comparators[0];
    std::optional<TextField> left_text = text_field_of(left), right_text = text_field_of(right);
    bool left_is_c_string =
        type_text(get_tag(left, tag_name(cls, dtype_tag))).compare(0, 5, "char*") == 0;
    // A text constant compared with a member read in place (compiled code) is compared in C.
    bool right_in_place = right_text && is_a(right, "Attribute") && is_text_constant(left);
    if (!left_is_c_string && !right_in_place)
        return;
    if (!equality && !right_in_place && left_text && is_a(left, "Call"))
        return;
    py::list args;
    std::string compare = "_zel_strcmp_";
    if (left_text || right_text) {
        compare = "_zel_fieldcmp_";
        auto past = [](const TextField &text) {
            return py::int_(text.length.cast<long long>() + 1);
        };
        args.append(left_text ? left_text->field : left);
        args.append(constant(left_text ? left_text->length : past(*right_text)));
        args.append(right_text ? right_text->field : right);
        args.append(constant(right_text ? right_text->length : past(*left_text)));
    } else {
        args.append(left);
        args.append(right);
    }
    comparators[0] = constant(0);
    node.attr("left") = call(bare_name(compare), args);
}

} // namespace

void add_name_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Name", reform_Name, py::arg("cls"), py::arg("node"), py::arg("ci"));
    zel_ast.classmethod("reform_Subscript", reform_Subscript, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("reform_Attribute", reform_Attribute, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("reform_Compare", reform_Compare, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
