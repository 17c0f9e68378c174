#include "emit/emit_classes.hpp"

namespace zel {

void add_struct_and_import_emitters(ClassBuilder &, const py::object &) {}

} // namespace zel
