// Runs C++ code inside a Python context manager, as a `with` statement would: __exit__
// sees the exception that leaves the body and may suppress it.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

template <typename Body> void with_context(const py::object &manager, Body &&body) {
    py::object exit = manager.attr("__exit__");
    manager.attr("__enter__")();
    try {
        body();
    } catch (py::error_already_set &e) {
        if (!py::bool_(exit(e.type(), e.value(), e.trace())))
            throw;
        return;
    } catch (...) {
        // A C++ failure is no Python exception: close the context as after a normal exit.
        exit(py::none(), py::none(), py::none());
        throw;
    }
    exit(py::none(), py::none(), py::none());
}

} // namespace zel
