// Calls: a call through a typed array of records becomes a keyed lookup, the numpy
// constructors are described for the declaration logic, the compile-time pseudo-calls of
// zel fold to constants, and len() of a typed array inside compiled code reads its shape.
#include "restructure/generated_names.hpp"
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

void walk_arguments(const py::object &cls, const py::object &node, const py::object &ci) {
    reform_stmt(cls, node.attr("args"), ci);
    reform_stmt(cls, node.attr("keywords"), ci);
    pass_text_arguments(node);
}

// tbl(k1, k2) through a struct view becomes _lookup_<block><key>(tbl, k1, k2).
void reform_lookup_call(const py::object &cls, const py::object &node, const py::object &ci,
                        const py::object &sym) {
    reform_stmt(cls, node.attr("args"), ci);
    pass_text_arguments(node);
    py::tuple view = struct_view(cls, sym.attr("view"));
    py::object key = view[0], sinfo = view[1];
    if (!truthy(key))
        return;
    std::string lookup_name = lookup_prefix + text_of(sinfo.attr("name")) + text_of(key);
    std::string struct_name = struct_type_name(key, sinfo);
    py::list args = node.attr("args");
    cls.attr("lookup_def")[py::str(lookup_name)] =
        py::make_tuple(py::len(args), struct_name, sinfo);
    args.insert(0, node.attr("func"));
    node.attr("func") = bare_name(lookup_name);
    set_tag(node, tag_name(cls, lookup_tag), args[0]);
}

void reform_Call(const Globals &g, const py::object &cls, const py::object &node,
                 const py::object &ci) {
    py::object sym = symbol_of(ci, node.attr("func"));
    if (is_variable(cls, sym)) {
        reform_lookup_call(cls, node, ci, sym);
        return;
    }
    reform_stmt(cls, node.attr("func"), ci);
    py::object fname = dotted_name(cls, node.attr("func"), ci);
    if (!truthy(fname)) {
        walk_arguments(cls, node, ci);
        return;
    }
    std::string name = text_of(fname);
    if (starts_with(name, text_of(g["ZEL"].attr("name")) + ".")) {
        reform_zel_call(cls, fname, node, ci);
    } else if (starts_with(name, "numpy.")) {
        walk_arguments(cls, node, ci);
        reform_numpy_call(cls, fname, node, ci);
    } else {
        walk_arguments(cls, node, ci);
        if (name == "len" && in_compiled_code(cls, ci)) {
            len_as_extent(cls, node, ci);
            if (is_a(node, "Call"))
                measure_text(cls, node, ci);
        }
        hold_text_result(cls, node, ci);
    }
}

void reform_Numpy_Call(const Globals &g, const py::object &cls, const std::string &tn,
                       const py::object &node, const py::object &ci) {
    if (tn == "numpy.dtype") {
        reform_numpy_dtype(cls, node, ci);
    } else if (tn == "numpy.zeros") {
        py::list args = node.attr("args");
        if (py::len(args) >= 2) {
            py::list pair;
            pair.append(args[0]);
            pair.append(args[1]);
            set_tag(node, tag_name(cls, call_tag), bare_tuple(pair));
        }
    } else if (tn == "numpy.genfromtxt") {
        py::object dt =
            call_parameter(cls, node, "dtype", g["ZELConst"].attr("param_numpy_genfromtxt"));
        if (dt.is_none())
            return;
        py::list pair;
        py::object sym = symbol_of(ci, dt);
        if (is_variable(cls, sym) && is_record_description(cls, sym.attr("dt"))) {
            pair.append(constant(0)); // one dimension of records
        } else {
            py::list placeholder; // only the number of dimensions counts
            placeholder.append(constant(0));
            placeholder.append(constant(1));
            pair.append(bare_tuple(placeholder));
        }
        pair.append(dt);
        set_tag(node, tag_name(cls, call_tag), bare_tuple(pair));
    }
}

// The C type and shape of one field of a record list, or false when the field is rejected.
bool add_record_field(const py::object &cls, const py::object &sinfo, const py::object &field,
                      const py::object &ci) {
    if (!is_a(field, "Tuple"))
        return false;
    py::list elts = field.attr("elts");
    if (py::len(elts) < 2)
        return false;
    py::object name = elts[0];
    if (!is_a(name, "Constant") || !py::isinstance<py::str>(name.attr("value")))
        return false;
    py::object shape = py::len(elts) > 2 ? py::object(elts[2]) : py::object(py::none());
    std::string tn = text_of(dotted_name(cls, elts[1], ci));
    if (tn.empty())
        return false;
    py::object ctype = table_type(cls, tn);
    if (truthy(ctype)) {
        sinfo.attr("add")(name.attr("value"), ctype, shape);
        return true;
    }
    if (!is_byte_string_type(tn))
        return false;
    // The length must be read here: a type computed at run time ('S%d' % w) leaves the
    // record untyped.
    std::string digits = text_of(py::str(tn.substr(2)).attr("strip")("'\""));
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long long length = std::stoll(digits);
    if (length <= 0 || !shape.is_none())
        return false;
    sinfo.attr("add")(name.attr("value"), text_member_type, constant(length));
    return true;
}

void reform_Numpy_Dtype(const py::object &cls, const py::object &node, const py::object &ci) {
    py::list args = node.attr("args");
    if (py::len(args) < 1 || !is_a(args[0], "List"))
        return;
    py::list fields = args[0].attr("elts");
    if (py::len(fields) < 1)
        return;
    py::object sinfo = cls.attr("StructInfo")(ci.attr("get_name")());
    for (py::handle field : fields)
        if (!add_record_field(cls, sinfo, py::reinterpret_borrow<py::object>(field), ci))
            return;
    set_tag(node, tag_name(cls, call_tag), sinfo);
}

// The type text of zel.type(x): as declared, or "PyObj" for an untyped variable.
py::object type_of_argument(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object v = py::str(unparse(node.attr("args")));
    py::object ref = reference_type(cls, v, ci);
    if (!truthy(ref) && !is_variable(cls, symbol_of(ci, v)))
        return py::str("PyObj");
    return ref;
}

void reform_Zel_Call(const Globals &g, const py::object &cls, const std::string &tn,
                     const py::object &node, const py::object &ci) {
    std::string zel = text_of(g["ZEL"].attr("name"));
    py::object value;
    if (tn == zel + ".level")
        value = py::int_(0);
    else if (tn == zel + ".type" && py::len(node.attr("args")) == 1)
        value = type_of_argument(cls, node, ci);
    else if (tn == zel + ".lineno")
        value = node.attr("lineno");
    else if (tn == zel + ".depth")
        value = ci.attr("depth");
    else
        return;
    set_class(node, "Constant");
    node.attr("value") = value;
}

// len(x) of a typed array becomes x.shape[0].
void len_to_shape(const py::object &cls, const py::object &node, const py::object &ci) {
    py::list args = node.attr("args");
    if (py::len(args) != 1)
        return;
    py::object x = args[0];
    py::object sym = symbol_of(ci, x);
    if (!is_variable(cls, sym) || !truthy(sym.attr("view")))
        return;
    set_class(node, "Subscript");
    node.attr("value") = bare_attribute(x, "shape");
    node.attr("slice") = constant(0);
}

} // namespace

void add_call_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Call", reform_Call, py::arg("cls"), py::arg("node"), py::arg("ci"));
    zel_ast.classmethod("reform_Numpy_Call", reform_Numpy_Call, py::arg("cls"), py::arg("tn"),
                        py::arg("node"), py::arg("ci"));
    zel_ast.classmethod("reform_Numpy_Dtype", reform_Numpy_Dtype, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("reform_Zel_Call", reform_Zel_Call, py::arg("cls"), py::arg("tn"),
                        py::arg("node"), py::arg("ci"));
    zel_ast.classmethod("len_to_shape", len_to_shape, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
