// The switches the build passes to the C++ compiler and linker that setuptools found: the
// Microsoft switches for MSVC, their GCC and Clang equivalents for every other compiler.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

enum class CompilerKind { msvc, gcc, clang };

// Which compiler a distutils compiler object runs.
CompilerKind compiler_kind(const py::object &compiler);

// Whether a distutils compiler object is the Microsoft compiler.
bool is_msvc(const py::object &compiler);

// OpenMP for the parallel loops of the generated code, when compiling and when linking.
py::list openmp_compile_switches(bool msvc);
py::list openmp_link_switches(bool msvc);

// Everything the build of a generated module adds to the interpreter's own switches.
py::list module_compile_switches(CompilerKind kind);
py::list module_link_switches(CompilerKind kind);

} // namespace zel
