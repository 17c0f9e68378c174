// Which C functions of the .pyx text need the interpreter, as the compiler judges: read from
// the errors of a translation that refused code run without it.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

namespace zel {
namespace py = pybind11;

// The 1-based lines of the `cdef`/`cpdef ... nogil` headers whose functions hold one of `errors`
// that says the code needs the interpreter; `lines` are the .pyx text's, markers cut off.
py::list nogil_headers_needing_interpreter(const std::vector<std::string> &lines,
                                           const py::list &errors);

// A call, in code that runs without the interpreter, of a C function written with it: the
// called name and the .pyx line of the call.
struct CallNeedingInterpreter {
    std::string name;
    long line;
};
std::optional<CallNeedingInterpreter>
call_needing_interpreter(const std::vector<std::string> &lines, const py::list &errors);

// The .pyx text with the headers at `header_lines` (1-based) written without " nogil".
py::str with_interpreter(const std::string &text, const py::list &header_lines);

} // namespace zel
