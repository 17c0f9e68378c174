// Plain operations on Python objects, each the C API call that the Python expression makes,
// with its error raised as a C++ exception: attribute reads, truth, comparison, instance
// tests, imports, printing.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace zel {
namespace py = pybind11;

// `from <module> import <name>`: a missing name raises ImportError, as the statement does.
py::object import_from(const char *module, const char *name);

// getattr(value, name, absent), where only AttributeError means absent: every other exception
// (an interrupt, a failing property) propagates. How every optional attribute is read.
py::object attr_or(py::handle value, py::handle name, py::object absent = py::none());
py::object attr_or(py::handle value, const char *name, py::object absent = py::none());
// Whether `value` has the attribute, on the same terms: only AttributeError means absent.
bool has_attr(py::handle value, const char *name);

// str(value) as C++ text (UTF-8): the one conversion of a Python value to a std::string.
std::string text_of(py::handle value);

// Python truth of a value.
bool truthy(py::handle value);

// isinstance(value, cls) for any class, such as the records of ZELAst.
bool is_instance(py::handle value, py::handle cls);

// value == other, by the interpreter's comparison.
bool py_equal(py::handle value, py::handle other);

// Raises `type(value)` as the interpreter does: the one way this code raises. The error is set
// and thrown as error_already_set, so the C++ frames on the way out see a Python exception of
// the exact class (one of the module's own classes too), as the code after them will.
[[noreturn]] void raise_error(py::handle type, py::handle value);
[[noreturn]] void raise_error(py::handle type, const std::string &message);
// `raise error` for an exception instance.
[[noreturn]] void raise_error(py::handle error);

// The exception that `e` holds, with its traceback attached as `__traceback__`, as an
// `except ... as exc` clause would see it.
py::object caught_exception(const py::error_already_set &e);

// `print(*items)` through the interpreter's own print, so redirected streams are honoured.
template <typename... Items> void print_line(Items &&...items) {
    py::print(std::forward<Items>(items)...);
}

// A new list of the given texts.
py::list str_list(std::initializer_list<const char *> items);

} // namespace zel
