// The import emitters: the script's import of zel becomes the struct and lookup block, numpy is
// imported at the C level too, and an import the rewriting tagged becomes a cimport (the prefix's
// "import openmp").
#include "emit/emit_classes.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

void write_alias(const py::object &self, py::handle alias) {
    self.attr("write")(alias.attr("name"));
    if (truthy(alias.attr("asname")))
        self.attr("write")(" as ", alias.attr("asname"));
}

void visit_Import(const Globals &g, const py::object &self, const py::object &node) {
    py::object zel_ast = g["ZELAst"];
    py::object cidx = zel_ast.attr("cidx");
    py::object zel_name = g["ZEL"].attr("name");
    py::list others;
    bool imports_zel = false;
    for (py::handle alias : node.attr("names")) {
        if (py_equal(alias.attr("name"), zel_name))
            imports_zel = true;
        else
            others.append(alias);
    }
    if (py::len(others) > 0) {
        self.attr("fill")(truthy(get_tag(node, cidx)) ? "cimport " : "import ");
        py::object also_cimport = py::none();
        bool first = true;
        for (py::handle alias : others) {
            if (!first)
                self.attr("write")(", ");
            first = false;
            write_alias(self, alias);
            if (truthy(get_tag(alias, cidx)))
                also_cimport = py::reinterpret_borrow<py::object>(alias);
        }
        if (!also_cimport.is_none()) {
            self.attr("fill")("cimport ");
            write_alias(self, also_cimport);
        }
    }
    if (imports_zel) {
        self.attr("fill_struct_lookup_code")();
        py::object numpy_name = zel_ast.attr("numpy_name");
        if (py_equal(numpy_name, zel_ast.attr("NUMPY"))) {
            self.attr("fill")("import numpy as " + text_of(numpy_name));
            self.attr("fill")("cimport numpy as " + text_of(numpy_name));
        }
    }
}

void visit_ImportFrom(const Globals &g, const py::object &self, const py::object &node) {
    if (py_equal(node.attr("module"), g["ZEL"].attr("name")))
        self.attr("fill_struct_lookup_code")();
    else
        host_unparser(g).attr("visit_ImportFrom")(self, node);
}

} // namespace

void add_import_emitters(ClassBuilder &unparser) {
    unparser.method("visit_Import", visit_Import, py::arg("self"), py::arg("node"));
    unparser.method("visit_ImportFrom", visit_ImportFrom, py::arg("self"), py::arg("node"));
}

} // namespace zel
