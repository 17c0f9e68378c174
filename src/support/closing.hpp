// Runs C++ code and closes a Python resource (a file) on every way out, as
// contextlib.closing does. Unlike a `with` statement it hands no exception to the resource,
// so it also serves exceptions raised from C++ calls, which carry no traceback.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace zel {
namespace py = pybind11;

template <typename Body> void closing(const py::object &resource, Body &&body) {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        resource.attr("close")();
        throw;
    }
    resource.attr("close")();
}

} // namespace zel
