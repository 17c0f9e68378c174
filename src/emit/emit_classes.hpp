// The emission and build classes, created by the module body in its order.
#pragma once

#include "support/class_builder.hpp"

#include <string>

namespace zel {

py::object make_zel_setuptools(const Globals &g);
// ZELSetupTools.__hout__(act): silences the standard streams (act True) or sends them to the
// file `act` while it is active; act False leaves them alone.
py::object make_stream_silencer(const ClassBuilder &setuptools);
py::object make_zel_cython(const Globals &g);
py::object make_zel_unparser(const Globals &g);

// A module of the compiler, `Cython.Compiler.<name>`, which the stages build nodes and types of.
inline py::module_ compiler_module(const char *name) {
    return py::module_::import((std::string("Cython.Compiler.") + name).c_str());
}

// A compiler stage of ZELCython, `ZELCython.<name>`: a tree transform of the analysed tree, its
// `visit_<NodeKind>` methods added by the caller.
inline ClassBuilder compiler_stage(const Globals &g, const char *name) {
    py::object base = compiler_module("Visitor").attr("CythonTransform");
    return ClassBuilder(g, name, py::make_tuple(base), "ZELCython");
}

// The compiler stage of ZELCython that checks C arithmetic where Python raises an error.
py::object make_checked_arithmetic(const Globals &g, const py::object &zel_cython);

// The compiler stage of ZELCython that makes C arrays filled at run time writable.
py::object make_writable_arrays(const Globals &g, const py::object &zel_cython);

// The compiler stage of ZELCython that tests texts for truth as Python tests bytes.
py::object make_text_truth(const Globals &g, const py::object &zel_cython);

// The compiler stage of ZELCython that stores Python values into integer elements as numpy does.
py::object make_element_stores(const Globals &g, const py::object &zel_cython);

// The compiler stage of ZELCython that has loops look for pending signals.
py::object make_signal_checks(const Globals &g, const py::object &zel_cython);

// The compiler stage of ZELCython that stops the build where a text of one character would be
// read as a C integer.
py::object make_char_literals(const Globals &g, const py::object &zel_cython);

// Emitter overrides of ZELUnparser, one file each, written and registered as the rewriting
// methods are (restructure/restructure_classes.hpp); ZELUnparser's `__init__` is
// `zel_unparser_init`.
void add_line_markers(ClassBuilder &unparser);
void add_declaration_emitters(ClassBuilder &unparser);
void add_struct_table_emitter(ClassBuilder &unparser);
void add_import_emitters(ClassBuilder &unparser);
void add_module_functions(ClassBuilder &unparser);

// The host's unparser, which ZELUnparser extends: an override calls it for the part it keeps.
inline py::object host_unparser(const Globals &g) {
    return g["ZELAst"].attr("_Unparser");
}

} // namespace zel
