#include "emit/emit_classes.hpp"

namespace zel {

void add_declaration_emitters(ClassBuilder &, const py::object &) {}

} // namespace zel
