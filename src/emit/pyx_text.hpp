// The .pyx text of a rewritten tree, with the map from its lines to the script's.
#pragma once

#include "support/class_builder.hpp"

namespace zel {

// Writes `tree` with ZELUnparser and reads the line markers back out of what it wrote: the
// pair (text, line map), where the map takes each output line that carries a marker to the
// script line the marker names.
py::tuple pyx_text_with_line_map(const Globals &g, const py::object &tree);

} // namespace zel
