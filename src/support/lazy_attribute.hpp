// Class attributes made on their first access: the classes that drive the Cython compiler and
// setuptools name what they use as class attributes, while a run that reuses its build never
// pays for importing either. The first access stores the value on the class in place of the
// lazy attribute, so later accesses are plain class attribute reads, and a test may replace
// the attribute as any other.
#pragma once

#include "support/class_builder.hpp"

#include <string>

namespace zel {

// Attributes loaded from the modules of one package. The package is looked up, without
// importing it, when the object is made: a missing one fails with ModuleNotFoundError then,
// as an import would.
class LazyAttributes {
  public:
    LazyAttributes(const Globals &g, const char *package);

    // `from <module> import <name>`, at the first access.
    py::object import_from(const std::string &module, const std::string &name) const;
    // The module `name` itself, at the first access.
    py::object module(const std::string &name) const;
    // What `make(g, owner)` returns, at the first access; `owner` is the class.
    py::object made_by(py::object (*make)(const Globals &, const py::object &)) const;

  private:
    py::object lazy(py::object load) const;

    Globals globals_;
    py::object attribute_class_;
};

} // namespace zel
