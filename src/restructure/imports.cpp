// Imports enter their bound names into the block's symbols and record under which name numpy
// is reachable; the resolver undoes import aliases so that the rewriting recognises its
// vocabulary ("numpy.zeros", "zel.range") by dotted names.
#include "restructure/restructure_classes.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// The name an alias binds in the script: its asname, else the (possibly dotted) name.
py::object bound_name(py::handle alias) {
    py::object asname = alias.attr("asname");
    return truthy(asname) ? asname : py::object(alias.attr("name"));
}

void add_reform_import(ClassBuilder &zel_ast) {
    py::object alias_class = ast_class("alias");
    py::str numpy("numpy");
    zel_ast.classmethod(
        "reform_Import",
        [alias_class, numpy](py::object cls, py::object node, py::object ci) {
            for (py::handle alias : node.attr("names")) {
                if (!py::isinstance(alias, alias_class))
                    continue;
                py::object bound = bound_name(alias);
                ci.attr("set_symbol")(bound, node);
                // Only numpy itself, not a submodule: the emitter also cimports it.
                if (equals(alias.attr("name"), numpy)) {
                    set_tag(alias, cls.attr("cidx"), py::str("DUP"));
                    py::setattr(cls, "numpy_name", bound);
                }
            }
        },
        py::arg("cls"), py::arg("node"), py::arg("ci"));
}

void add_reform_import_from(ClassBuilder &zel_ast) {
    py::object alias_class = ast_class("alias");
    py::str numpy("numpy");
    zel_ast.classmethod(
        "reform_ImportFrom",
        [alias_class, numpy](py::object cls, py::object node, py::object ci) {
            for (py::handle alias : node.attr("names")) {
                if (!py::isinstance(alias, alias_class))
                    continue;
                ci.attr("set_symbol")(bound_name(alias), node);
                if (equals(node.attr("module"), numpy) && cls.attr("numpy_name").is_none())
                    py::setattr(cls, "numpy_name", cls.attr("NUMPY"));
            }
        },
        py::arg("cls"), py::arg("node"), py::arg("ci"));
}

// The dotted name of a name taken out of a module with a from-import; None when no alias of
// the statement binds it. A relative import without module name gives a text that begins
// with a dot, so it never reads as a module of the vocabulary.
py::object from_import_name(py::handle statement, py::handle name, py::handle alias_class) {
    py::object module = statement.attr("module");
    py::object prefix = module.is_none() ? py::str(".") : module + py::str(".");
    for (py::handle alias : statement.attr("names")) {
        if (!py::isinstance(alias, alias_class))
            continue;
        if (equals(alias.attr("asname"), name))
            return prefix + py::object(alias.attr("name"));
        if (equals(alias.attr("name"), name))
            return prefix + py::reinterpret_borrow<py::object>(name);
    }
    return py::none();
}

// The module name behind an import alias used as the base of an attribute; None when no
// alias of the statement is named so.
py::object import_alias_module(py::handle statement, py::handle base, py::handle alias_class) {
    for (py::handle alias : statement.attr("names"))
        if (py::isinstance(alias, alias_class) && equals(alias.attr("asname"), base))
            return alias.attr("name");
    return py::none();
}

void add_convert_import_name_str(ClassBuilder &zel_ast) {
    py::object unparse = py::module_::import("ast").attr("unparse");
    py::object name_class = ast_class("Name"), attribute_class = ast_class("Attribute");
    py::object import_class = ast_class("Import"), import_from_class = ast_class("ImportFrom");
    py::object alias_class = ast_class("alias");
    zel_ast.classmethod(
        "convert_import_name_str",
        [unparse, name_class, attribute_class, import_class, import_from_class,
         alias_class](py::object, py::object idx, py::object ri) {
            py::object result = unparse(idx);
            if (py::isinstance(idx, name_class)) {
                py::tuple found = ri.attr("get_symbol")(idx);
                if (py::isinstance(found[0], import_from_class)) {
                    py::object dotted = from_import_name(found[0], found[1], alias_class);
                    if (!dotted.is_none())
                        result = dotted;
                }
            } else if (py::isinstance(idx, attribute_class)) {
                // One level only: the base must be a name bound by a plain import alias.
                py::tuple found = ri.attr("get_symbol")(idx.attr("value"));
                if (py::isinstance(found[0], import_class)) {
                    py::object module = import_alias_module(found[0], found[1], alias_class);
                    if (!module.is_none())
                        result = module + py::str(".") + py::object(idx.attr("attr"));
                }
            }
            return result;
        },
        py::arg("cls"), py::arg("idx"), py::arg("ri"));
}

} // namespace

void add_import_rewriting(ClassBuilder &zel_ast) {
    add_reform_import(zel_ast);
    add_reform_import_from(zel_ast);
    add_convert_import_name_str(zel_ast);
}

} // namespace zel
