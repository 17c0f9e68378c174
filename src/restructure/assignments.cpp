// Assignments: names bound by an assignment enter the block's symbol table, a new array
// at depth 0 is declared with its typed memory view, a re-pointed struct pointer takes the
// address of its value; and the two queries of a variable's declared type.
#include "restructure/array_slices.hpp"
#include "restructure/blocks.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/record_pointers.hpp"
#include "restructure/repeated_reads.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/tags.hpp"
#include "restructure/text_fields.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"

#include <string>

namespace zel {
namespace {

using namespace pybind11::literals;

// An array description (shape, element type) on the value: declare each new name at depth 0.
void assign_array(const py::object &cls, const py::object &node, const py::object &description,
                  const py::object &ci) {
    py::object sym = new_variable(cls, node, "call"_a = description);
    py::object view_type = record_view_type(cls, description, ci);
    for (py::handle target : node.attr("targets")) {
        reform_stmt(cls, target, ci);
        if (!is_a(target, "Name") || truthy(symbol_of(ci, target)))
            continue;
        if (!truthy(view_type)) {
            bind(ci, target, node);
        } else if (ci.attr("depth").cast<long>() == 0 && !in_class_body(ci)) {
            bind(ci, target, sym);
            set_tag(target, tag_name(cls, dtype_tag), view_type);
            set_tag(target, tag_name(cls, cdef_tag), py::bool_(true));
        } else if (!in_compiled_code(cls, ci)) {
            bind(ci, target, node);
        }
    }
}

// A record dtype: every target holds it, also a name bound before.
void assign_record(const py::object &cls, const py::object &node, const py::object &record,
                   const py::object &ci) {
    py::object sym = new_variable(cls, node, "call"_a = record);
    for (py::handle target : node.attr("targets")) {
        reform_stmt(cls, target, ci);
        bind(ci, target, sym);
    }
}

void assign_plain(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object value = node.attr("value");
    for (py::handle target : node.attr("targets")) {
        reform_stmt(cls, target, ci);
        if (!is_a(target, "Name"))
            continue;
        if (!truthy(symbol_of(ci, target))) {
            bind(ci, target, node);
            continue;
        }
        // A struct pointer takes the address of the record; a char* takes the text itself.
        py::object target_type = get_tag(target, tag_name(cls, dtype_tag));
        if (truthy(target_type)) {
            std::string text = text_of(target_type);
            if (is_pointer_type(text) && text != text_type) {
                set_tag(value, tag_name(cls, reference_tag), py::bool_(true));
                keep_table_alive(cls, node, target.attr("id"), ci);
            }
        }
    }
}

bool is_c_integer(const std::string &ctype) {
    return ctype == "int" || ctype == int_type;
}

bool is_c_float(const std::string &ctype) {
    return ctype == "float" || ctype == float_type;
}

// A number that Cython stores into every element of a typed array slice as numpy would: an
// int or float constant, or a C-typed scalar, whose type the elements take without loss of
// kind (no float into integer elements).
bool stores_as_numpy(const py::object &cls, const py::object &value, const std::string &element,
                     const py::object &ci) {
    py::object number =
        is_a(value, "UnaryOp") && (is_a(value.attr("op"), "USub") || is_a(value.attr("op"), "UAdd"))
            ? py::object(value.attr("operand"))
            : value;
    py::object declared = is_a(number, "Name") ? cdef_type(cls, number, ci) : py::none();
    std::string kind;
    if (is_a(number, "Constant") && PyLong_CheckExact(number.attr("value").ptr()))
        kind = int_type;
    else if (is_a(number, "Constant") && PyFloat_CheckExact(number.attr("value").ptr()))
        kind = float_type;
    else if (py::isinstance<py::str>(declared))
        kind = text_of(declared);
    return (is_c_float(element) && (is_c_float(kind) || is_c_integer(kind))) ||
           (is_c_integer(element) && is_c_integer(kind));
}

// Cython stores a Python value into a slice of a typed array as one number in every element;
// numpy copies an array into it, broadcasting it. Where the interpreter lock is held, the
// store goes through the array as numpy's: `a[:] = v` is written `np.asarray(a)[:] = v`,
// unless v is a number that Cython stores as numpy does.
void store_slices_as_numpy(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object numpy_name = cls.attr("numpy_name");
    if (!truthy(numpy_name) || in_compiled_code(cls, ci))
        return;
    for (py::handle target : node.attr("targets")) {
        if (!is_a(target, "Subscript") || !is_a(target.attr("value"), "Name"))
            continue;
        py::object view = target.attr("value");
        py::object sym = variable_of(cls, ci, view.attr("id"));
        py::object view_type = cdef_type(cls, view, ci);
        if (sym.is_none() || !truthy(sym.attr("view")) || !py::isinstance<py::str>(view_type))
            continue;
        size_t dims = static_cast<size_t>(dimensions(cls, sym.attr("shape")));
        if (!takes_a_slice(target.attr("slice"), dims) ||
            stores_as_numpy(cls, node.attr("value"), view_element_type(text_of(view_type)), ci))
            continue;
        target.attr("value") = as_numpy_array(numpy_name, view.attr("id"));
    }
}

// Whether `target` is one element of a typed array of C integers.
bool is_integer_element(const py::object &cls, const py::object &target, const py::object &ci) {
    if (!is_a(target, "Subscript") || !is_a(target.attr("value"), "Name"))
        return false;
    py::object view = target.attr("value");
    py::object view_type = cdef_type(cls, view, ci);
    if (!py::isinstance<py::str>(view_type) || !is_c_integer(view_element_type(text_of(view_type))))
        return false;
    py::object sym = variable_of(cls, ci, view.attr("id"));
    return !sym.is_none() && truthy(sym.attr("view")) &&
           !takes_a_slice(target.attr("slice"),
                          static_cast<size_t>(dimensions(cls, sym.attr("shape"))));
}

// An int constant, a C integer name or a call of int().
bool is_integer_value(const py::object &cls, const py::object &value, const py::object &ci) {
    if (is_a(value, "Constant"))
        return PyLong_Check(value.attr("value").ptr());
    if (is_a(value, "Name")) {
        py::object declared = cdef_type(cls, value, ci);
        return py::isinstance<py::str>(declared) && is_c_integer(text_of(declared));
    }
    return is_a(value, "Call") && is_a(value.attr("func"), "Name") &&
           py_equal(value.attr("func").attr("id"), py::str("int"));
}

// numpy stores a number into an integer element as int() converts it: a float truncated toward
// zero, NaN and infinity raising. Cython refuses a C float there, so a value that is not an
// integer already is written `int(v)`, which the compiler turns into that conversion (a
// Python value it hands to int(), and a C integer it leaves as it is).
void store_as_integer_elements(const py::object &cls, const py::object &node,
                               const py::object &ci) {
    py::list targets = node.attr("targets");
    py::object value = node.attr("value");
    if (py::len(targets) != 1 || !is_integer_element(cls, targets[0], ci) ||
        is_integer_value(cls, value, ci))
        return;
    py::list args;
    args.append(value);
    node.attr("value") = call(name_load("int"), args);
}

// `k[i] += v` on an integer element is `k[i] = k[i] + v` to numpy, stored as int() converts
// the sum; Cython refuses a C float sum there. Such an update is written out as an assignment,
// which stores the sum as every other store into an integer element, when its index reads
// alike twice.
void reform_AugAssign(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object target = node.attr("target");
    if (!is_integer_element(cls, target, ci) || is_integer_value(cls, node.attr("value"), ci) ||
        !reads_alike_twice(target.attr("slice"))) {
        descend(cls, node, ci);
        return;
    }
    py::object element = ast_class("Subscript")(
        name_load(target.attr("value").attr("id")),
        py::module_::import("copy").attr("deepcopy")(target.attr("slice")), ast_class("Load")());
    write_update_as_assignment(node,
                               ast_class("BinOp")(element, node.attr("op"), node.attr("value")));
    reform_stmt(cls, node, ci);
}

// A text member is stored through a call, which cannot be one target of a cascaded
// assignment, and in Python every target of `t1 = t2 = v` takes v itself, not the text cut to
// the member. With a text member among the targets the statement becomes one store per target
// under `if True:`, from a temporary that holds the value unless it is a constant.
void split_chained_text_store(const py::object &node) {
    if (!is_a(node, "Assign"))
        return; // a single store into a text member, made already
    py::list targets = node.attr("targets");
    if (py::len(targets) < 2)
        return;
    bool stores_text = false;
    for (py::handle target : targets)
        stores_text = stores_text || text_field_of(py::reinterpret_borrow<py::object>(target));
    if (!stores_text)
        return;
    py::object value = node.attr("value");
    py::list body;
    auto store = [&](const py::object &target, const py::object &stored) {
        py::object statement = assign(target, stored);
        statement.attr("lineno") = node.attr("lineno");
        store_text_field(statement);
        body.append(statement);
    };
    if (!is_a(value, "Constant")) {
        store(name_store(chained_value), value);
        value = name_load(chained_value);
    }
    for (py::handle target : targets)
        store(py::reinterpret_borrow<py::object>(target), value);
    set_class(node, "If");
    py::delattr(node, "targets");
    py::delattr(node, "value");
    node.attr("test") = constant(true);
    node.attr("body") = body;
    node.attr("orelse") = py::list();
}

void reform_Assign(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object value = node.attr("value");
    reform_stmt(cls, value, ci);
    py::object description = get_tag(value, tag_name(cls, call_tag));
    if (is_a(description, "Tuple")) {
        assign_array(cls, node, description, ci);
    } else if (is_record_description(cls, description)) {
        assign_record(cls, node, description, ci);
    } else {
        assign_plain(cls, node, ci);
        store_text_field(node);
        copy_text_variable(cls, node, ci);
        split_chained_text_store(node);
    }
    if (is_a(node, "Assign")) {
        store_slices_as_numpy(cls, node, ci);
        store_as_integer_elements(cls, node, ci);
    }
}

py::object get_cdef_type(const py::object &cls, const py::object &v, const py::object &ci) {
    py::object name;
    if (is_a(v, "Name"))
        name = v.attr("id");
    else if (py::isinstance<py::str>(v))
        name = v;
    else
        return py::none();
    py::object record = variable_of(cls, ci, name);
    if (record.is_none())
        return py::none();
    py::object org = record.attr("org_node");
    py::object didx = tag_name(cls, dtype_tag);
    if (is_a(org, "AnnAssign") || is_a(org, "arg"))
        return get_tag(org, didx);
    if (is_a(org, "Assign")) {
        for (py::handle target : org.attr("targets"))
            if (is_a(target, "Name") && py::object(target.attr("id")).equal(name))
                return get_tag(target, didx);
    }
    return py::none();
}

py::object get_ref_type(const py::object &cls, const py::object &v, const py::object &ci) {
    py::object record = variable_of(cls, ci, v);
    if (record.is_none())
        return py::none();
    py::object org = record.attr("org_node");
    if (is_a(org, "AnnAssign") || is_a(org, "arg"))
        return py::str(unparse(org.attr("annotation")));
    if (!is_a(org, "Assign"))
        return py::none();
    if (truthy(record.attr("view")))
        return py::str("(" + unparse(record.attr("shape")) + ", " + unparse(record.attr("view")) +
                       ")");
    py::object value = org.attr("value");
    if (is_record_description(cls, record.attr("dt")) && is_a(value, "Call"))
        return py::str(unparse(value.attr("args")[py::int_(0)]));
    return py::none();
}

} // namespace

void add_assignment_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Assign", reform_Assign, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("reform_AugAssign", reform_AugAssign, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("get_cdef_type", get_cdef_type, py::arg("cls"), py::arg("v"),
                        py::arg("ci"));
    zel_ast.classmethod("get_ref_type", get_ref_type, py::arg("cls"), py::arg("v"), py::arg("ci"));
}

} // namespace zel
