// The tags the rewriting puts on nodes and block records. Each tag's attribute name is a class
// attribute of ZELAst, read through its owner (ZELAst or a subclass) so that the one spelling
// of each name stays there; a tag is named here once, and a misspelt one does not compile.
#pragma once

#include <pybind11/pybind11.h>

namespace zel {
namespace py = pybind11;

// A tag, by the ZELAst class attribute that holds its attribute name.
struct Tag {
    const char *attribute;
};

inline constexpr Tag cdef_tag{"cidx"};          // a name's `cdef` declaration; "DUP" on an import
inline constexpr Tag dtype_tag{"didx"};         // the C type text of a declaration or value
inline constexpr Tag projection_tag{"pidx"};    // a block record's projection loop
inline constexpr Tag compiled_tag{"midx"};      // a block that runs without the interpreter
inline constexpr Tag view_tag{"vidx"};          // (struct name, StructInfo) of a record view
inline constexpr Tag lookup_tag{"lidx"};        // the table a lookup call reads
inline constexpr Tag walked_tag{"dup_chk_idx"}; // a statement the walk has met
inline constexpr Tag reference_tag{"ref_idx"};  // a value bound by reference
inline constexpr Tag call_tag{"call"};          // the array an allocating call makes
inline constexpr Tag time_slice_tag{"tidx"};    // the time slice of a subscript

// The attribute name of `tag`, as `owner` (ZELAst) holds it.
inline py::object tag_name(const py::object &owner, Tag tag) {
    return owner.attr(tag.attribute);
}

} // namespace zel
