// What the environment variable CUDA_PATH names, read the same way by the run step and by the
// command mode's CUDA report.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

struct CudaPath {
    py::object value;        // the variable, or None when unset or empty
    py::object bin;          // its bin directory, or None
    bool bin_exists = false; // whether that directory exists
};

CudaPath read_cuda_path(const py::object &os);

// Whether the platform has a DLL search path (os.add_dll_directory, Windows only).
bool has_dll_search_path(const py::object &os);

// The directory the run step adds to the DLL search path: CUDA_PATH's bin directory when it
// exists and the platform has such a path; None otherwise.
py::object cuda_dll_directory(const py::object &os);

} // namespace zel
