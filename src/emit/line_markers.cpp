#include "emit/emit_classes.hpp"

namespace zel {

void add_line_markers(ClassBuilder &, const py::object &) {}

} // namespace zel
