// The emission and build classes, created by the module body in its order.
#pragma once

#include "support/class_builder.hpp"

namespace zel {

py::object make_zel_setuptools(const Globals &g);
py::object make_zel_cython(const Globals &g);
py::object make_zel_unparser(const Globals &g);

// Emitter overrides of ZELUnparser, one file each; `base` is the host unparser class.
void add_line_markers(ClassBuilder &unparser, const py::object &base);
void add_declaration_emitters(ClassBuilder &unparser, const py::object &base);
void add_struct_and_import_emitters(ClassBuilder &unparser, const py::object &base);

} // namespace zel
