// The import emitters: the script's import of zel becomes the struct and lookup block, numpy is
// imported at the C level too, and an import the rewriting tagged becomes a cimport (the prefix's
// "import openmp").
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "restructure/tags.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

void write_alias(const py::object &self, py::handle alias) {
    emitter::write(self, alias.attr("name"));
    if (truthy(alias.attr("asname")))
        emitter::write(self, " as ", alias.attr("asname"));
}

void visit_Import(const Globals &g, const py::object &self, const py::object &node) {
    py::object zel_ast = g["ZELAst"];
    py::object cidx = tag_name(zel_ast, cdef_tag);
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
        emitter::fill(self, truthy(get_tag(node, cidx)) ? "cimport " : "import ");
        py::object also_cimport = py::none();
        bool first = true;
        for (py::handle alias : others) {
            if (!first)
                emitter::write(self, ", ");
            first = false;
            write_alias(self, alias);
            if (truthy(get_tag(alias, cidx)))
                also_cimport = py::reinterpret_borrow<py::object>(alias);
        }
        if (!also_cimport.is_none()) {
            emitter::fill(self, "cimport ");
            write_alias(self, also_cimport);
        }
    }
    if (imports_zel) {
        self.attr("fill_struct_lookup_code")();
        py::object numpy_name = zel_ast.attr("numpy_name");
        if (py_equal(numpy_name, zel_ast.attr("NUMPY"))) {
            emitter::fill(self, "import numpy as " + text_of(numpy_name));
            emitter::fill(self, "cimport numpy as " + text_of(numpy_name));
        }
    }
}

void visit_ImportFrom(const Globals &g, const py::object &self, const py::object &node) {
    if (py_equal(node.attr("module"), g["ZEL"].attr("name")))
        self.attr("fill_struct_lookup_code")();
    else
        emitter::host_visit_import_from(g, self, node);
}

} // namespace

void add_import_emitters(ClassBuilder &unparser) {
    unparser.method("visit_Import", visit_Import, py::arg("self"), py::arg("node"));
    unparser.method("visit_ImportFrom", visit_ImportFrom, py::arg("self"), py::arg("node"));
}

} // namespace zel
