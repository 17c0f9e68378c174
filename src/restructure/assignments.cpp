// Assignments: names bound by an assignment enter the block's symbol table, a new array
// at depth 0 is declared with its typed memory view, a re-pointed struct pointer takes the
// address of its value; and the two queries of a variable's declared type.
#include "restructure/record_pointers.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/symbols.hpp"
#include "restructure/text_fields.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

using namespace pybind11::literals;

// An array description (shape, element type) on the value: declare each new name at depth 0.
void assign_array(const py::object &cls, const py::object &node, const py::object &description,
                  const py::object &ci) {
    py::object sym = cls.attr("VariableInfo")(node, "call"_a = description);
    py::object view_type = cls.attr("proc_tuple_vardef")(description, ci);
    for (py::handle target : node.attr("targets")) {
        cls.attr("reform_Stmt")(target, ci);
        if (!is_a(target, "Name") || truthy(symbol_of(ci, target)))
            continue;
        if (!truthy(view_type)) {
            ci.attr("set_symbol")(target, node);
        } else if (ci.attr("depth").cast<long>() == 0) {
            ci.attr("set_symbol")(target, sym);
            set_tag(target, cls.attr("didx"), view_type);
            set_tag(target, cls.attr("cidx"), py::bool_(true));
        } else if (!truthy(ci.attr("get_attr")(cls.attr("midx")))) {
            ci.attr("set_symbol")(target, node);
        }
    }
}

// A record dtype: every target holds it, also a name bound before.
void assign_record(const py::object &cls, const py::object &node, const py::object &record,
                   const py::object &ci) {
    py::object sym = cls.attr("VariableInfo")(node, "call"_a = record);
    for (py::handle target : node.attr("targets")) {
        cls.attr("reform_Stmt")(target, ci);
        ci.attr("set_symbol")(target, sym);
    }
}

void assign_plain(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object value = node.attr("value");
    for (py::handle target : node.attr("targets")) {
        cls.attr("reform_Stmt")(target, ci);
        if (!is_a(target, "Name"))
            continue;
        if (!truthy(symbol_of(ci, target))) {
            ci.attr("set_symbol")(target, node);
            continue;
        }
        // A struct pointer takes the address of the record; a char* takes the text itself.
        py::object target_type = get_tag(target, cls.attr("didx"));
        if (truthy(target_type)) {
            std::string text = py::str(target_type).cast<std::string>();
            if (text.back() == '*' && text != "char*") {
                set_tag(value, cls.attr("ref_idx"), py::bool_(true));
                keep_table_alive(cls, node, target.attr("id"), ci);
            }
        }
    }
}

void reform_Assign(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object value = node.attr("value");
    cls.attr("reform_Stmt")(value, ci);
    py::object description = get_tag(value, cls.attr("call"));
    if (is_a(description, "Tuple")) {
        assign_array(cls, node, description, ci);
    } else if (py::isinstance(description, cls.attr("StructInfo"))) {
        assign_record(cls, node, description, ci);
    } else {
        assign_plain(cls, node, ci);
        store_text_field(node);
        copy_text_variable(cls, node, ci);
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
    py::object didx = cls.attr("didx");
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
    if (py::isinstance(record.attr("dt"), cls.attr("StructInfo")) && is_a(value, "Call"))
        return py::str(unparse(value.attr("args")[py::int_(0)]));
    return py::none();
}

} // namespace

void add_assignment_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Assign", reform_Assign, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("get_cdef_type", get_cdef_type, py::arg("cls"), py::arg("v"),
                        py::arg("ci"));
    zel_ast.classmethod("get_ref_type", get_ref_type, py::arg("cls"), py::arg("v"), py::arg("ci"));
}

} // namespace zel
