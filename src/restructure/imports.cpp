// Imports enter their bound names into the block's symbols and record under which name numpy
// is reachable; the resolver undoes import aliases so that the rewriting recognises its
// vocabulary ("numpy.zeros", "zel.range") by dotted names.
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/tags.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// The name an alias binds in the script: its asname, else the (possibly dotted) name.
py::object bound_name(py::handle alias) {
    py::object asname = alias.attr("asname");
    return truthy(asname) ? asname : py::object(alias.attr("name"));
}

void reform_Import(const py::object &cls, const py::object &node, const py::object &ci) {
    for (py::handle alias : node.attr("names")) {
        if (!is_a(alias, "alias"))
            continue;
        py::object bound = bound_name(alias);
        bind(ci, bound, node);
        // Only numpy itself, not a submodule: the emitter also cimports it, where the compiler
        // takes a cimport: directly in the module body. Compiled code needs none of its own.
        if (py_equal(alias.attr("name"), py::str("numpy"))) {
            if (is_a(ci.attr("node"), "Module"))
                set_tag(alias, tag_name(cls, cdef_tag), py::str("DUP"));
            py::setattr(cls, "numpy_name", bound);
        }
    }
}

void reform_ImportFrom(const py::object &cls, const py::object &node, const py::object &ci) {
    for (py::handle alias : node.attr("names")) {
        if (!is_a(alias, "alias"))
            continue;
        bind(ci, bound_name(alias), node);
        if (py_equal(node.attr("module"), py::str("numpy")) && cls.attr("numpy_name").is_none())
            py::setattr(cls, "numpy_name", cls.attr("NUMPY"));
    }
}

// The dotted name of a name taken out of a module with a from-import; None when no alias of
// the statement binds it. A relative import without module name gives a text that begins
// with a dot, so it never reads as a module of the vocabulary.
py::object from_import_name(py::handle statement, py::handle name) {
    py::object module = statement.attr("module");
    py::object prefix = module.is_none() ? py::str(".") : module + py::str(".");
    for (py::handle alias : statement.attr("names")) {
        if (!is_a(alias, "alias"))
            continue;
        if (py_equal(alias.attr("asname"), name))
            return prefix + py::object(alias.attr("name"));
        if (py_equal(alias.attr("name"), name))
            return prefix + py::reinterpret_borrow<py::object>(name);
    }
    return py::none();
}

// The module name behind an import alias used as the base of an attribute; None when no
// alias of the statement is named so.
py::object import_alias_module(py::handle statement, py::handle base) {
    for (py::handle alias : statement.attr("names"))
        if (is_a(alias, "alias") && py_equal(alias.attr("asname"), base))
            return alias.attr("name");
    return py::none();
}

py::object convert_import_name_str(const py::object &, const py::object &idx,
                                   const py::object &ri) {
    py::object result = py::str(unparse(idx));
    if (is_a(idx, "Name")) {
        py::tuple found = ri.attr("get_symbol")(idx);
        if (is_a(found[0], "ImportFrom")) {
            py::object dotted = from_import_name(found[0], found[1]);
            if (!dotted.is_none())
                result = dotted;
        }
    } else if (is_a(idx, "Attribute")) {
        // One level only: the base must be a name bound by a plain import alias.
        py::tuple found = ri.attr("get_symbol")(idx.attr("value"));
        if (is_a(found[0], "Import")) {
            py::object module = import_alias_module(found[0], found[1]);
            if (!module.is_none())
                result = module + py::str(".") + py::object(idx.attr("attr"));
        }
    }
    return result;
}

} // namespace

void add_import_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Import", reform_Import, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("reform_ImportFrom", reform_ImportFrom, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
    zel_ast.classmethod("convert_import_name_str", convert_import_name_str, py::arg("cls"),
                        py::arg("idx"), py::arg("ri"));
}

} // namespace zel
