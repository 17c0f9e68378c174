// Runs C++ code and closes a Python resource (a file) on every way out, as
// contextlib.closing does. Unlike a `with` statement it hands no exception to the resource,
// so it also serves exceptions raised from C++ calls, which carry no traceback.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace zel {
namespace py = pybind11;

// Runs `body`, then `resource.<release>()` on every way out.
template <typename Body>
void releasing(const py::object &resource, const char *release, Body &&body) {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        resource.attr(release)();
        throw;
    }
    resource.attr(release)();
}

template <typename Body> void closing(const py::object &resource, Body &&body) {
    releasing(resource, "close", std::forward<Body>(body));
}

} // namespace zel
