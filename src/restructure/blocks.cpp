// The chain of block records: the depth-0 block and its declarations, statements put beside
// the one being walked, and the body of the parallel loop around a block.
#include "restructure/blocks.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/tags.hpp"
#include "support/objects.hpp"
#include "support/pyast.hpp"

namespace zel {

py::object depth0_block(py::object block) {
    while (block.attr("depth").cast<long>() != 0)
        block = block.attr("prev");
    return block;
}

bool in_class_body(const py::object &block) {
    return is_a(depth0_block(block).attr("node"), "ClassDef");
}

py::dict declarations(const py::object &block) {
    py::object target = depth0_block(block);
    py::object found = get_tag(target, "_declarations_");
    if (found.is_none()) {
        found = py::dict();
        set_tag(target, "_declarations_", found);
    }
    return found;
}

py::object declare_hidden(const py::object &cls, const py::object &ci, const py::str &name,
                          const py::object &cdf, const py::object &lineno) {
    py::dict declared = declarations(ci);
    if (declared.contains(name))
        return get_tag(declared[name], tag_name(cls, dtype_tag));
    py::object decl = ann_assign(name_store(name), constant(cdf), py::none());
    decl.attr("lineno") = lineno;
    set_tag(decl, tag_name(cls, dtype_tag), cdf);
    set_tag(decl, tag_name(cls, cdef_tag), py::bool_(true));
    py::setattr(decl, tag_name(cls, walked_tag), py::bool_(true));
    declared[name] = decl;
    insert_declaration(ci, decl);
    return cdf;
}

namespace {

// The statement list that holds `stmt`: one of the block's own lists, or, for a statement walked
// with the block around it (a final block), one inside the statement being walked.
py::list list_holding(const py::object &ci, const py::object &stmt) {
    auto holder = [&](py::handle owner) -> py::object {
        for (const char *field : {"body", "orelse", "finalbody"}) {
            py::object list = attr_or(owner, field);
            if (!PyList_Check(list.ptr()))
                continue;
            for (py::handle item : list)
                if (item.is(stmt))
                    return list;
        }
        return py::none();
    };
    py::object found = holder(ci.attr("node"));
    py::object current = get_tag(ci, "curr");
    if (found.is_none() && !current.is_none())
        for (py::handle owner : walk_tree(current))
            if (!(found = holder(owner)).is_none())
                break;
    if (found.is_none())
        raise_error(PyExc_RuntimeError, "statement not found in its block: " + unparse(stmt));
    return found;
}

void insert_beside(const py::object &cls, const py::object &ci, const py::object &current,
                   const py::object &stmt, Py_ssize_t offset) {
    py::list list = list_holding(ci, current);
    Py_ssize_t position = 0;
    while (!py::object(list[position]).is(current))
        ++position;
    stmt.attr("lineno") = current.attr("lineno");
    py::setattr(stmt, tag_name(cls, walked_tag), py::bool_(true));
    list.insert(position + offset, stmt);
}

} // namespace

void insert_before(const py::object &cls, const py::object &ci, const py::object &current,
                   const py::object &stmt) {
    insert_beside(cls, ci, current, stmt, 0);
}

void insert_after(const py::object &cls, const py::object &ci, const py::object &current,
                  const py::object &stmt) {
    insert_beside(cls, ci, current, stmt, 1);
}

py::object parallel_body(const py::object &cls, py::object block) {
    py::object midx = tag_name(cls, compiled_tag);
    if (!truthy(block.attr("get_attr")(midx)))
        return py::none();
    for (py::object prev = block.attr("prev"); truthy(prev) && truthy(prev.attr("get_attr")(midx));
         prev = block.attr("prev"))
        block = prev;
    return is_a(block.attr("node"), "For") ? block : py::none();
}

} // namespace zel
