// The text runtime: the Cython helpers through which the rewritten script reads, copies,
// compares and returns texts (restructure/text_fields.hpp).
#pragma once

#include <string>

namespace zel {

// The helpers' text for text members of at most `longest` bytes.
std::string text_runtime(long long longest);

} // namespace zel
