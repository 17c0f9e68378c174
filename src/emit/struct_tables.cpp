// The struct and lookup block that takes the place of the script's import of zel, and the
// import emitters: numpy is imported at the C level too, and the prefix "import openmp"
// becomes a cimport.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/tags.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"

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
    return py_equal(typ, py::str("char")) && truthy(shp);
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

// numpy stores a text that fills its member without a terminating NUL: members are read and
// compared within their length. _zel_fieldcmp_ is 0 when the texts up to their first NUL,
// each within its bound, are equal. _zel_field_ reads a member as bytes. _zel_textcopy_ makes
// a member a C string of its own, in a buffer as long as the longest member and a NUL, held by
// value so that each thread of a parallel loop has its own. _zel_textret_ returns such a text
// from a C function in a buffer of the thread's, until its next return (a longer text, which is
// in no such buffer, as it is), and _zel_textkeep_ copies such a text out of it. _zel_texthold_
// holds one call's result by value, a copy or the longer text itself, for _zel_textof_, which
// reads it where Cython keeps it: in its own temporary through the statement, made when the
// call returns, before any later call; _zel_textbytes_ makes one bytes at once, of no type
// Cython knows, so that Python code subscripts it as Python does. _zel_textshare_ gives the copy
// when a text is the one in a variable's own buffer (else the text itself),
// _zel_textback_ the copy when a text is not the one a variable held before a parallel loop.
// _zel_setfield_ stores as numpy does: the value cut to the member's n bytes (and to the m bytes of
// the member it comes from), the rest filled with NULs; source and member may be one.
void write_text_helpers(std::ostringstream &out, long long longest) {
    std::string size = std::to_string(longest + 1), bound = std::to_string(longest);
    out << "from libc.string cimport memcmp as _zel_memcmp_, memcpy as _zel_memcpy_, "
           "memmove as _zel_memmove_, memset as _zel_memset_\n"
           "cdef extern from \"string.h\" nogil:\n"
           "    size_t _zel_strnlen_ \"strnlen\"(const char* s, size_t n)\n"
           "    size_t _zel_strlen_ \"strlen\"(const char* s)\n"
           "cdef extern from *:\n"
           "    \"static thread_local char _zel_kept["
        << size
        << "]; static char *_zel_textret(const char *text, long long n) "
           "{ size_t k = strnlen(text, n < 0 ? "
        << size << " : (size_t)n); if (k > " << bound
        << ") return (char *)text; memmove(_zel_kept, text, k); _zel_kept[k] = 0; return "
           "_zel_kept; }\"\n"
           "    char* _zel_textret_ \"_zel_textret\"(const char* text, long long n) nogil\n"
           "    char* _zel_kept_ \"_zel_kept\"\n"
           "ctypedef struct _zel_textbuf_:\n"
           "    char s["
        << size
        << "]\n"
           "ctypedef struct _zel_textheld_:\n"
           "    char s["
        << size
        << "]\n"
           "    char* text\n"
           "cdef inline int _zel_fieldcmp_(const char* a, size_t n, const char* b, size_t m) "
           "noexcept nogil:\n"
           "    cdef size_t k = _zel_strnlen_(a, n)\n"
           "    return k != _zel_strnlen_(b, m) or _zel_memcmp_(a, b, k) != 0\n"
           "cdef inline bytes _zel_field_(const char* field, size_t n):\n"
           "    return field[:_zel_strnlen_(field, n)]\n"
           "cdef inline _zel_textbuf_ _zel_textcopy_(const char* field, size_t n) noexcept nogil:\n"
           "    cdef _zel_textbuf_ copy\n"
           "    cdef size_t k = _zel_strnlen_(field, n)\n"
           "    _zel_memcpy_(copy.s, field, k)\n"
           "    copy.s[k] = 0\n"
           "    return copy\n"
           "cdef inline _zel_textbuf_ _zel_textkeep_(const char* text) noexcept nogil:\n"
           "    return _zel_textcopy_(text, "
        << bound
        << ")\n"
           "cdef inline _zel_textheld_ _zel_texthold_(char* text) noexcept nogil:\n"
           "    cdef _zel_textheld_ held\n"
           "    cdef size_t k = _zel_strnlen_(text, "
        << size
        << ")\n"
           "    held.text = text if k > "
        << bound
        << " else NULL\n"
           "    if held.text == NULL:\n"
           "        _zel_memcpy_(held.s, text, k)\n"
           "        held.s[k] = 0\n"
           "    return held\n"
           "cdef inline char* _zel_textof_(_zel_textheld_& held) noexcept nogil:\n"
           "    if held.text == NULL:\n"
           "        return held.s\n"
           "    return held.text\n"
           "cdef inline object _zel_textbytes_(const char* text):\n"
           "    return text\n"
           "cdef inline char* _zel_textshare_(char* text, char* own, char* copy) noexcept nogil:\n"
           "    return copy if text == own else text\n"
           "cdef inline char* _zel_textback_(char* text, char* before, char* copy) noexcept "
           "nogil:\n"
           "    return text if text == before else copy\n"
           "cdef inline void _zel_setfield_(char* field, size_t n, const char* value, size_t m) "
           "noexcept nogil:\n"
           "    cdef size_t k = _zel_strnlen_(value, n if n < m else m)\n"
           "    _zel_memmove_(field, value, k)\n"
           "    _zel_memset_(field + k, 0, n - k)\n";
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
void write_lookups(std::ostringstream &out, const py::object &lookup_def) {
    for (auto item : py::dict(lookup_def)) {
        py::tuple entry(py::reinterpret_borrow<py::object>(item.second));
        size_t key_count = entry[0].cast<size_t>();
        py::object record = entry[2];
        py::list var = record.attr("var"), typ = record.attr("typ"), shp = record.attr("shp");
        out << "cdef long long " << text_of(item.first) << "(" << text_of(entry[1]) << "[::1] tbl";
        for (size_t i = 0; i < key_count; ++i)
            out << "," << (is_text(typ[i], shp[i]) ? std::string("char*") : text_of(typ[i])) << " "
                << text_of(var[i]);
        out << ") noexcept nogil:\n    cdef long long idx\n"
               "    for idx in range(len(tbl)):\n        if ";
        for (size_t i = 0; i < key_count; ++i) {
            std::string field = text_of(var[i]);
            if (i > 0)
                out << " and ";
            if (is_text(typ[i], shp[i]))
                out << "_zel_fieldcmp_(tbl[idx]." << field << "," << text_length(shp[i]) << ","
                    << field << "," << text_length(shp[i]) + 1 << ")==0";
            else
                out << "tbl[idx]." << field << "==" << field;
        }
        out << ":\n            return idx\n    return -1\n";
    }
}

void fill_struct_lookup_code(const Globals &g, const py::object &self) {
    if (truthy(self.attr("_fill_struct_lookup_code")))
        return;
    py::object zel_ast = g["ZELAst"];
    std::ostringstream out;
    long long longest = std::max(write_structs(out, zel_ast.attr("struct_def")),
                                 longest_lookup_text(zel_ast.attr("lookup_def")));
    out << "from libc.string cimport strcmp as _zel_strcmp_\n";
    if (longest > 0 || truthy(self.attr("_text_helpers")))
        write_text_helpers(out, longest);
    write_lookups(out, zel_ast.attr("lookup_def"));
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            emitter::fill(self, line);
    zel_ast.attr("struct_def") = py::none();
    self.attr("_fill_struct_lookup_code") = true;
}

void write_alias(const py::object &self, py::handle alias) {
    emitter::write(self, alias.attr("name"));
    if (truthy(alias.attr("asname")))
        emitter::write(self, " as ", alias.attr("asname"));
}

void visit_Import(const Globals &g, const py::object &self, const py::object &node) {
    py::object zel_ast = g["ZELAst"];
    py::object cidx = tag_name(zel_ast, cdef_tag);
    py::object zel_name = g["ZEL"].attr("name");
    py::list others;
    bool imports_zel = false;
    for (py::handle alias : node.attr("names")) {
        if (py_equal(alias.attr("name"), zel_name))
            imports_zel = true;
        else
            others.append(alias);
    }
    if (py::len(others) > 0) {
        emitter::fill(self, truthy(get_tag(node, cidx)) ? "cimport " : "import ");
        py::object also_cimport = py::none();
        bool first = true;
        for (py::handle alias : others) {
            if (!first)
                emitter::write(self, ", ");
            first = false;
            write_alias(self, alias);
            if (truthy(get_tag(alias, cidx)))
                also_cimport = py::reinterpret_borrow<py::object>(alias);
        }
        if (!also_cimport.is_none()) {
            emitter::fill(self, "cimport ");
            write_alias(self, also_cimport);
        }
    }
    if (imports_zel) {
        self.attr("fill_struct_lookup_code")();
        py::object numpy_name = zel_ast.attr("numpy_name");
        if (py_equal(numpy_name, zel_ast.attr("NUMPY"))) {
            emitter::fill(self, "import numpy as " + text_of(numpy_name));
            emitter::fill(self, "cimport numpy as " + text_of(numpy_name));
        }
    }
}

void visit_ImportFrom(const Globals &g, const py::object &self, const py::object &node) {
    if (py_equal(node.attr("module"), g["ZEL"].attr("name")))
        self.attr("fill_struct_lookup_code")();
    else
        emitter::host_visit_import_from(g, self, node);
}

} // namespace

void add_struct_and_import_emitters(ClassBuilder &unparser) {
    unparser.method("fill_struct_lookup_code", fill_struct_lookup_code, py::arg("self"));
    unparser.method("visit_Import", visit_Import, py::arg("self"), py::arg("node"));
    unparser.method("visit_ImportFrom", visit_ImportFrom, py::arg("self"), py::arg("node"));
}

} // namespace zel
