// A fault in the script found while rewriting: one line on standard output, then the
// process ends with status 10 through SystemExit, which travels out of the import.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace zel {
namespace py = pybind11;

[[noreturn]] void exit_with_script_fault();

// Prints `items` as one line, as print(*items) would, and ends the process with status 10.
template <typename... Items> [[noreturn]] void script_fault(Items &&...items) {
    py::print(std::forward<Items>(items)...);
    exit_with_script_fault();
}

} // namespace zel
