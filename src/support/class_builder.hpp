// Builds the module's classes the way a class statement would: a namespace filled in
// order, then the metaclass of the first base (or `type`) called with name, bases and
// namespace. Methods are C++ callables wrapped as pybind11 functions.
//
// There is one way to register a method: a free function named as the method, added with
// one call of `classmethod`, `staticmethod` or `method` that names its parameters. A
// function that needs the module's namespace (a sibling class, a module-level import)
// declares `const Globals &` as its first parameter; the builder binds it with
// functools.partial, so the reference from the method to the namespace is one that the
// cycle collector sees, and a dropped run of the module body is collected whole.
#pragma once

#include <pybind11/pybind11.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

namespace zel {
namespace py = pybind11;

// The module's namespace, as the first parameter of a method that needs it.
class Globals : public py::dict {
  public:
    PYBIND11_OBJECT_DEFAULT(Globals, py::dict, PyDict_Check)
};

namespace detail {

// The first parameter type of a function, function pointer or lambda; void when it has none.
template <typename F> struct first_parameter : first_parameter<decltype(&F::operator())> {};
template <typename R> struct first_parameter<R (*)()> { using type = void; };
template <typename R, typename A, typename... As> struct first_parameter<R (*)(A, As...)> {
    using type = A;
};
template <typename R, typename A, typename... As> struct first_parameter<R(A, As...)> {
    using type = A;
};
template <typename C, typename R> struct first_parameter<R (C::*)() const> { using type = void; };
template <typename C, typename R, typename A, typename... As>
struct first_parameter<R (C::*)(A, As...) const> {
    using type = A;
};

template <typename F>
constexpr bool takes_globals =
    std::is_same_v<std::decay_t<typename first_parameter<std::decay_t<F>>::type>, Globals>;

template <typename... Extra>
constexpr bool names_parameters = (std::is_same_v<Extra, py::arg> || ...) ||
                                  (std::is_same_v<Extra, py::arg_v> || ...);

} // namespace detail

class ClassBuilder {
  public:
    ClassBuilder(Globals globals, const std::string &name, py::tuple bases = py::tuple(),
                 const std::string &outer_qualname = "");

    const Globals &globals() const { return globals_; }
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
        if constexpr (detail::takes_globals<Func>) {
            py::object function;
            if constexpr (detail::names_parameters<Extra...>)
                function = py::cpp_function(std::forward<Func>(f), py::name(function_name),
                                            py::arg("module_globals"), extra...);
            else
                function =
                    py::cpp_function(std::forward<Func>(f), py::name(function_name), extra...);
            return bind_globals(function);
        } else {
            return py::cpp_function(std::forward<Func>(f), py::name(function_name), extra...);
        }
    }
    py::object bind_globals(const py::object &function) const;
    ClassBuilder &add(const char *name, PyObject *(*wrap)(PyObject *), const py::object &fn);

    Globals globals_;
    std::string name_;
    std::string qualname_;
    py::tuple bases_;
    py::dict ns_;
};

// An Exception subclass nested in `outer`, whose constructor takes one message with a default.
py::object nested_error_class(const ClassBuilder &outer, const std::string &name,
                              const char *default_message);

} // namespace zel
