// The struct and lookup block that takes the place of the script's import of zel, and the
// import emitters: numpy is imported at the C level too, and the prefix "import openmp"
// becomes a cimport.
#include "emit/emit_classes.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"

#include <sstream>
#include <string>

namespace zel {
namespace {

// "[n]" for a count, "[a][b]" for a tuple of counts, nothing without a dimension.
std::string dimension_suffix(py::handle d) {
    std::string suffix;
    if (is_a(d, "Constant")) {
        suffix = "[" + text_of(d.attr("value")) + "]";
    } else if (is_a(d, "Tuple")) {
        for (py::handle element : d.attr("elts"))
            suffix += "[" + text_of(element.attr("value")) + "]";
    }
    return suffix;
}

bool is_text(py::handle typ, py::handle shp) {
    return equals(typ, py::str("char")) && truthy(shp);
}

// The byte count of a text member: the product of its dimensions.
long long text_length(py::handle d) {
    if (is_a(d, "Constant"))
        return d.attr("value").cast<long long>();
    long long n = 1;
    for (py::handle element : d.attr("elts"))
        n *= element.attr("value").cast<long long>();
    return n;
}

// numpy lays record fields out without padding, so the struct that views them is packed.
// Returns whether some struct has a text member.
bool write_structs(std::ostringstream &out, const py::object &struct_def) {
    bool has_text = false;
    if (struct_def.is_none())
        return has_text;
    for (auto item : py::dict(struct_def)) {
        py::handle o = item.second;
        out << "cdef public packed struct " << struct_type_name(item.first, o) << ":\n";
        py::list var = o.attr("var"), typ = o.attr("typ"), shp = o.attr("shp");
        for (size_t i = 0; i < py::len(var); ++i) {
            out << "    " << text_of(typ[i]) << " " << text_of(var[i]) << dimension_suffix(shp[i])
                << "\n";
            has_text = has_text || is_text(typ[i], shp[i]);
        }
    }
    return has_text;
}

// numpy stores a text that fills its member without a terminating NUL: members are read and
// compared within their length. _zel_fieldcmp_ is 0 when the member holds exactly the key.
// _zel_setfield_ stores as numpy does: the value cut to the member's n bytes (and to the m
// bytes of the member it comes from), the rest filled with NULs; source and member may be one.
void write_text_helpers(std::ostringstream &out) {
    out << "from libc.string cimport strlen as _zel_strlen_, strncmp as _zel_strncmp_, "
           "memmove as _zel_memmove_, memset as _zel_memset_\n"
           "cdef extern from \"string.h\" nogil:\n"
           "    size_t _zel_strnlen_ \"strnlen\"(const char* s, size_t n)\n"
           "cdef inline int _zel_fieldcmp_(const char* field, const char* key, size_t n) "
           "noexcept nogil:\n"
           "    return _zel_strncmp_(field, key, n) != 0 or _zel_strlen_(key) > n\n"
           "cdef inline bytes _zel_field_(const char* field, size_t n):\n"
           "    return field[:_zel_strnlen_(field, n)]\n"
           "cdef inline void _zel_setfield_(char* field, size_t n, const char* value, size_t m) "
           "noexcept nogil:\n"
           "    cdef size_t k = _zel_strnlen_(value, n if n < m else m)\n"
           "    _zel_memmove_(field, value, k)\n"
           "    _zel_memset_(field + k, 0, n - k)\n";
}

bool lookups_compare_text(const py::object &lookup_def) {
    for (auto item : py::dict(lookup_def)) {
        py::tuple entry(py::reinterpret_borrow<py::object>(item.second));
        py::list typ = entry[2].attr("typ"), shp = entry[2].attr("shp");
        for (size_t i = 0; i < entry[0].cast<size_t>(); ++i)
            if (is_text(typ[i], shp[i]))
                return true;
    }
    return false;
}

// One function per registered lookup: the index of the first row whose leading fields equal
// the keys, or -1.
void write_lookups(std::ostringstream &out, const py::object &lookup_def) {
    for (auto item : py::dict(lookup_def)) {
        py::tuple entry(py::reinterpret_borrow<py::object>(item.second));
        size_t n = entry[0].cast<size_t>();
        py::object s = entry[2];
        py::list var = s.attr("var"), typ = s.attr("typ"), shp = s.attr("shp");
        out << "cdef long long " << text_of(item.first) << "(" << text_of(entry[1]) << "[::1] tbl";
        for (size_t i = 0; i < n; ++i)
            out << "," << (is_text(typ[i], shp[i]) ? std::string("char*") : text_of(typ[i])) << " "
                << text_of(var[i]);
        out << "):\n    cdef long long idx\n    for idx in range(len(tbl)):\n        if ";
        for (size_t i = 0; i < n; ++i) {
            std::string v = text_of(var[i]);
            if (i > 0)
                out << " and ";
            if (is_text(typ[i], shp[i]))
                out << "_zel_fieldcmp_(tbl[idx]." << v << "," << v << "," << text_length(shp[i])
                    << ")==0";
            else
                out << "tbl[idx]." << v << "==" << v;
        }
        out << ":\n            return idx\n    return -1\n";
    }
}

void fill_struct_lookup_code(const Globals &g, const py::object &self) {
    if (truthy(self.attr("_fill_struct_lookup_code")))
        return;
    py::object zel_ast = g["ZELAst"];
    std::ostringstream out;
    bool has_text = write_structs(out, zel_ast.attr("struct_def"));
    has_text = lookups_compare_text(zel_ast.attr("lookup_def")) || has_text;
    out << "from libc.string cimport strcmp as _zel_strcmp_\n";
    if (has_text)
        write_text_helpers(out);
    write_lookups(out, zel_ast.attr("lookup_def"));
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            self.attr("fill")(line);
    zel_ast.attr("struct_def") = py::none();
    self.attr("_fill_struct_lookup_code") = true;
}

void write_alias(const py::object &self, py::handle alias) {
    self.attr("write")(alias.attr("name"));
    if (truthy(alias.attr("asname")))
        self.attr("write")(" as ", alias.attr("asname"));
}

void visit_Import(const Globals &g, const py::object &self, const py::object &node) {
    py::object zel_ast = g["ZELAst"];
    py::object cidx = zel_ast.attr("cidx");
    py::object zel_name = g["ZEL"].attr("name");
    py::list others;
    bool imports_zel = false;
    for (py::handle alias : node.attr("names")) {
        if (equals(alias.attr("name"), zel_name))
            imports_zel = true;
        else
            others.append(alias);
    }
    if (py::len(others) > 0) {
        self.attr("fill")(truthy(get_tag(node, cidx)) ? "cimport " : "import ");
        py::object also_cimport = py::none();
        bool first = true;
        for (py::handle alias : others) {
            if (!first)
                self.attr("write")(", ");
            first = false;
            write_alias(self, alias);
            if (truthy(get_tag(alias, cidx)))
                also_cimport = py::reinterpret_borrow<py::object>(alias);
        }
        if (!also_cimport.is_none()) {
            self.attr("fill")("cimport ");
            write_alias(self, also_cimport);
        }
    }
    if (imports_zel) {
        self.attr("fill_struct_lookup_code")();
        py::object numpy_name = zel_ast.attr("numpy_name");
        if (equals(numpy_name, zel_ast.attr("NUMPY"))) {
            self.attr("fill")("import numpy as " + text_of(numpy_name));
            self.attr("fill")("cimport numpy as " + text_of(numpy_name));
        }
    }
}

void visit_ImportFrom(const Globals &g, const py::object &self, const py::object &node) {
    if (equals(node.attr("module"), g["ZEL"].attr("name")))
        self.attr("fill_struct_lookup_code")();
    else
        host_unparser(g).attr("visit_ImportFrom")(self, node);
}

} // namespace

void add_struct_and_import_emitters(ClassBuilder &unparser) {
    unparser.method("fill_struct_lookup_code", fill_struct_lookup_code, py::arg("self"));
    unparser.method("visit_Import", visit_Import, py::arg("self"), py::arg("node"));
    unparser.method("visit_ImportFrom", visit_ImportFrom, py::arg("self"), py::arg("node"));
}

} // namespace zel
