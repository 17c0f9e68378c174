// A Python value converted to a C integer is taken as Python's integer-only contexts take it.
#pragma once

#include <string>

namespace zel {

// Rewrites the line of the compiler's conversion of a Python value to a C integer that falls
// back to the value's `__int__`, which truncates a float, to take its `__index__` instead, so
// that a float, a numpy float or a string raises TypeError ("'float' object cannot be
// interpreted as an integer") where ints, bools and numpy integers convert as before.
// `in_conversion` carries, from line to line, that a conversion function's body has begun.
void convert_integers_by_index(std::string &line, bool &in_conversion);

} // namespace zel
