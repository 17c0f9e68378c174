// Struct pointers keep the typed array they point into alive.
#include "restructure/record_pointers.hpp"
#include "restructure/blocks.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/text.hpp"

#include <string>

namespace zel {

void keep_table_alive(const py::object &cls, const py::object &stmt, const py::object &pointer,
                      const py::object &ci) {
    py::object value = stmt.attr("value");
    if (!is_a(value, "Subscript") || !is_a(value.attr("value"), "Name"))
        return;
    py::object table = value.attr("value");
    if (!truthy(variable_of(cls, ci, table)))
        return;
    py::object view_type = cdef_type(cls, table, ci);
    if (!is_contiguous_view(type_text(view_type)))
        return;
    // One hidden view per pointer and view type: a pointer set from arrays of two shapes
    // keeps each of them.
    std::string name = table_keep_prefix + text_of(pointer);
    py::object lineno = stmt.attr("lineno");
    if (!py_equal(declare_hidden(cls, ci, py::str(name), view_type, lineno), view_type)) {
        name += "_" + text_of(table.attr("id"));
        declare_hidden(cls, ci, py::str(name), view_type, lineno);
    }
    py::object keep = assign(name_store(name), name_load(table.attr("id")));
    py::object loop = parallel_body(cls, ci);
    if (loop.is_none())
        insert_before(cls, ci, stmt, keep);
    else
        insert_before(cls, loop.attr("prev"), loop.attr("node"), keep);
}

// The record of a struct pointer type "_struct_<key><name>*", or None.
py::object record_of_pointer(const py::object &cls, const std::string &cdf) {
    py::object registry = cls.attr("struct_def");
    if (!truthy(registry))
        return py::none();
    for (auto item : py::dict(registry)) {
        if (pointer_to(struct_type_name(item.first, item.second)) == cdf)
            return py::reinterpret_borrow<py::object>(item.second);
    }
    return py::none();
}

} // namespace zel
