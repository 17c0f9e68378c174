// The C type texts that the rewriting writes and the emitter reads back, each built or
// recognised in one place.
#pragma once

#include "support/objects.hpp"
#include "support/text.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace zel {
namespace py = pybind11;

// A C string: the type of a text variable, of a text function's result and of a text read in
// place; a text type is this one or a pointer to it.
constexpr const char *text_type = "char*";
inline bool is_text_type(const std::string &type) {
    return starts_with(type, text_type);
}

// The member type of a record's text field, whose shape gives its length.
constexpr const char *text_member_type = "char";

// The declared type of a Python object the rewriting keeps (a text variable's reference).
constexpr const char *object_type = "object";

// The C types of Python's int and float: a script's int is a C long long, its float a double.
constexpr const char *int_type = "long long";
constexpr const char *float_type = "double";

// A typed array type (a memory view) and the C type of its elements: "double" of
// "double[:,::1]".
inline bool is_view_type(const std::string &type) {
    return type.find('[') != std::string::npos;
}
inline std::string view_element_type(const std::string &view_type) {
    return view_type.substr(0, view_type.find('['));
}

// A pointer type (a struct pointer, a C string) and the pointer to a struct.
inline bool is_pointer_type(const std::string &type) {
    return ends_with(type, "*");
}
inline std::string pointer_to(const std::string &type) {
    return type + "*";
}

// A C type text, as a tag or a symbol holds it, as C++ text; "" where there is none (None).
inline std::string type_text(py::handle value) {
    return py::isinstance<py::str>(value) ? text_of(value) : "";
}

// The struct of a record dtype: "_struct_" followed by the struct key and the record
// description's block name.
inline std::string struct_type_name(py::handle key, py::handle record) {
    return "_struct_" + text_of(key) + text_of(record.attr("name"));
}

// The end of a C-contiguous memory view's type, the step of its last dimension.
constexpr const char *contiguous_end = "::1]";

// The suffix of a C-contiguous memory view with `dims` dimensions: "[::1]", "[:,::1]", ...
inline std::string view_suffix(long long dims) {
    std::string text = "[";
    for (long long i = 1; i < dims; ++i)
        text += ":,";
    return text + contiguous_end;
}

// A typed array type of C-contiguous memory, as view_suffix writes it: "double[:,::1]".
inline bool is_contiguous_view(const std::string &type) {
    return ends_with(type, contiguous_end);
}

// A numpy byte-string type written as a string constant: 'S16' (the text begins with a quote
// and the letter S).
inline bool is_byte_string_type(const std::string &type_name) {
    return type_name.size() >= 2 && (type_name[0] == '\'' || type_name[0] == '"') &&
           type_name[1] == 'S';
}

// The C type of a type name as the script writes it, or None: the table has no default entry.
inline py::object table_type(const py::object &cls, const std::string &type_name) {
    return cls.attr("type_table").attr("get")(type_name);
}

} // namespace zel
