// The struct and lookup block that takes the place of the script's import of zel: the packed
// structs of the record dtypes, the text runtime where a text needs it, and one lookup
// function per registered lookup.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "emit/text_runtime.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/tags.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/text_template.hpp"

#include <algorithm>
#include <sstream>
#include <string>

namespace zel {
namespace {

// "[n]" for a count, "[a][b]" for a tuple of counts, nothing without a dimension.
std::string dimension_suffix(py::handle shape) {
    std::string suffix;
    if (is_a(shape, "Constant")) {
        suffix = "[" + text_of(shape.attr("value")) + "]";
    } else if (is_a(shape, "Tuple")) {
        for (py::handle element : shape.attr("elts"))
            suffix += "[" + text_of(element.attr("value")) + "]";
    }
    return suffix;
}

bool is_text(py::handle typ, py::handle shp) {
    return py_equal(typ, py::str(text_member_type)) && truthy(shp);
}

// The byte count of a text member: the product of its dimensions.
long long text_length(py::handle shape) {
    if (is_a(shape, "Constant"))
        return shape.attr("value").cast<long long>();
    long long bytes = 1;
    for (py::handle element : shape.attr("elts"))
        bytes *= element.attr("value").cast<long long>();
    return bytes;
}

// numpy lays record fields out without padding, so the struct that views them is packed.
// Returns the length of the longest text member, 0 when no struct has one.
long long write_structs(std::ostringstream &out, const py::object &struct_def) {
    long long longest = 0;
    if (struct_def.is_none())
        return longest;
    for (auto item : py::dict(struct_def)) {
        py::handle record = item.second;
        out << "cdef public packed struct " << struct_type_name(item.first, record) << ":\n";
        py::list var = record.attr("var"), typ = record.attr("typ"), shp = record.attr("shp");
        for (size_t i = 0; i < py::len(var); ++i) {
            out << "    " << text_of(typ[i]) << " " << text_of(var[i]) << dimension_suffix(shp[i])
                << "\n";
            if (is_text(typ[i], shp[i]))
                longest = std::max(longest, text_length(shp[i]));
        }
    }
    return longest;
}

// The length of the longest text member that a lookup compares, 0 when none does.
long long longest_lookup_text(const py::object &lookup_def) {
    long long longest = 0;
    for (auto item : py::dict(lookup_def)) {
        py::tuple entry(py::reinterpret_borrow<py::object>(item.second));
        py::list typ = entry[2].attr("typ"), shp = entry[2].attr("shp");
        for (size_t i = 0; i < entry[0].cast<size_t>(); ++i)
            if (is_text(typ[i], shp[i]))
                longest = std::max(longest, text_length(shp[i]));
    }
    return longest;
}

// One function per registered lookup: the index of the first row whose leading fields equal
// the keys, or -1. It runs without the interpreter, so compiled code calls it too, and raises
// nothing: its rows are those of the table.
constexpr const char *lookup_function = R"pyx(
cdef long long ${name}(${row_type}${view} tbl${keys}) noexcept nogil:
    cdef long long idx
    for idx in range(len(tbl)):
        if ${match}:
            return idx
    return -1
)pyx";

// A key compared with its field: a text within the member's length and one byte past it.
constexpr const char *text_key_match =
    "${compare}(tbl[idx].${field},${length},${field},${key_length})==0";
constexpr const char *key_match = "tbl[idx].${field}==${field}";

void write_lookups(std::ostringstream &out, const py::object &lookup_def) {
    for (auto item : py::dict(lookup_def)) {
        py::tuple entry(py::reinterpret_borrow<py::object>(item.second));
        size_t key_count = entry[0].cast<size_t>();
        py::object record = entry[2];
        py::list var = record.attr("var"), typ = record.attr("typ"), shp = record.attr("shp");
        std::string keys, match;
        for (size_t i = 0; i < key_count; ++i) {
            std::string field = text_of(var[i]);
            bool text = is_text(typ[i], shp[i]);
            keys += "," + (text ? std::string(text_type) : text_of(typ[i])) + " " + field;
            if (i > 0)
                match += " and ";
            if (text)
                match += fill_template(text_key_match,
                                       {{"compare", field_compare},
                                        {"field", field},
                                        {"length", std::to_string(text_length(shp[i]))},
                                        {"key_length", std::to_string(text_length(shp[i]) + 1)}});
            else
                match += fill_template(key_match, {{"field", field}});
        }
        out << fill_template(lookup_function, {{"name", text_of(item.first)},
                                               {"row_type", text_of(entry[1])},
                                               {"view", view_suffix(1)},
                                               {"keys", keys},
                                               {"match", match}});
    }
}

void fill_struct_lookup_code(const Globals &g, const py::object &self) {
    if (truthy(self.attr("_fill_struct_lookup_code")))
        return;
    py::object zel_ast = g["ZELAst"];
    std::ostringstream out;
    long long longest = std::max(write_structs(out, zel_ast.attr("struct_def")),
                                 longest_lookup_text(zel_ast.attr("lookup_def")));
    out << "from libc.string cimport strcmp as " << string_compare << "\n";
    if (longest > 0 || truthy(self.attr("_text_helpers")))
        out << text_runtime(longest);
    write_lookups(out, zel_ast.attr("lookup_def"));
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            emitter::fill(self, line);
    zel_ast.attr("struct_def") = py::none();
    self.attr("_fill_struct_lookup_code") = true;
}

} // namespace

void add_struct_table_emitter(ClassBuilder &unparser) {
    unparser.method("fill_struct_lookup_code", fill_struct_lookup_code, py::arg("self"));
}

} // namespace zel
