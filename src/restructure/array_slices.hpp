// Subscripts that take a slice of a typed array rather than one element. Where the interpreter
// lock is held such a subscript goes through the array as numpy's, which slices, broadcasts,
// counts negative bounds from the end and gives numpy arrays, as the script expects.
#pragma once

#include "support/pyast.hpp"

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// Whether the index of a subscript of an array of `dims` dimensions takes a slice of it.
inline bool takes_a_slice(const py::object &index, size_t dims) {
    py::list parts;
    if (is_a(index, "Tuple"))
        parts = index.attr("elts");
    else
        parts.append(index);
    if (py::len(parts) < dims)
        return true;
    for (py::handle part : parts)
        if (is_a(part, "Slice") ||
            (is_a(part, "Constant") && py::object(part.attr("value")).is(py::ellipsis())))
            return true;
    return false;
}

// `<numpy>.asarray(<view>)`: the typed array `view` as the numpy array it views.
inline py::object as_numpy_array(const py::object &numpy_name, const py::object &view) {
    py::list args;
    args.append(name_load(view));
    return call(bare_attribute(name_load(numpy_name), "asarray"), args);
}

} // namespace zel
