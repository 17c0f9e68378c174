// Builds the module's classes the way a class statement would: a namespace filled in
// order, then the metaclass of the first base (or `type`) called with name, bases and
// namespace. Methods are C++ callables wrapped as pybind11 functions.
#pragma once

#include <pybind11/pybind11.h>

#include <cstring>
#include <string>
#include <utility>

namespace zel {
namespace py = pybind11;

class ClassBuilder {
  public:
    // `globals` is the module dictionary; methods capture it to reach sibling classes.
    ClassBuilder(py::dict globals, const std::string &name, py::tuple bases = py::tuple(),
                 const std::string &outer_qualname = "");

    const py::dict &globals() const { return globals_; }
    py::dict &ns() { return ns_; }

    ClassBuilder &attr(const char *name, py::object value);

    // A function that receives the class as its first argument.
    template <typename Func, typename... Extra>
    ClassBuilder &classmethod(const char *name, Func &&f, const Extra &...extra) {
        return add(name, PyClassMethod_New, make(name, std::forward<Func>(f), extra...));
    }
    template <typename Func, typename... Extra>
    ClassBuilder &staticmethod(const char *name, Func &&f, const Extra &...extra) {
        return add(name, PyStaticMethod_New, make(name, std::forward<Func>(f), extra...));
    }
    // A function that receives the instance as its first argument.
    template <typename Func, typename... Extra>
    ClassBuilder &method(const char *name, Func &&f, const Extra &...extra) {
        return add(name, PyInstanceMethod_New, make(name, std::forward<Func>(f), extra...));
    }
    // A read-only property whose getter receives the instance.
    template <typename Func> ClassBuilder &property(const char *name, Func &&getter) {
        py::object fget = make(name, std::forward<Func>(getter));
        return attr(name, py::module_::import("builtins").attr("property")(fget));
    }

    // A builder for a class nested in this one; store its result with `attr`.
    ClassBuilder nested(const std::string &name, py::tuple bases = py::tuple()) const;

    py::object build();

  private:
    // pybind11 takes a function named __init__ for a constructor of its own bound types and
    // refuses every other instance, so an __init__ is made under another function name.
    template <typename Func, typename... Extra>
    py::object make(const char *name, Func &&f, const Extra &...extra) {
        const char *function_name = std::strcmp(name, "__init__") == 0 ? "init" : name;
        return py::cpp_function(std::forward<Func>(f), py::name(function_name), extra...);
    }
    ClassBuilder &add(const char *name, PyObject *(*wrap)(PyObject *), const py::object &fn);

    py::dict globals_;
    std::string name_;
    std::string qualname_;
    py::tuple bases_;
    py::dict ns_;
};

// An Exception subclass nested in `outer`, whose constructor takes one message with a default.
py::object nested_error_class(const ClassBuilder &outer, const std::string &name,
                              const char *default_message);

} // namespace zel
