// The records of the rewriting, nested in ZELAst: its error class, the block record that
// carries scope, symbols, block tags and the insertion point, and the symbol records of
// typed variables and record dtypes. Records are plain instances, so tags are attributes.
#include "restructure/blocks.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/tags.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// BlockInfo: one block of the walk, linked to the block around it.

// Module, class and function bodies start a new level and inherit no block tags.
bool starts_scope(const py::object &node) {
    return is_a(node, "ClassDef") || is_a(node, "FunctionDef") || is_a(node, "AsyncFunctionDef") ||
           is_a(node, "Module");
}

void block_info_init(const Globals &g, const py::object &self, const py::object &node,
                     const py::object &prev) {
    py::setattr(self, "name", py::str(""));
    if (starts_scope(node)) {
        py::setattr(self, "depth", py::int_(0));
    } else if (truthy(prev)) {
        py::setattr(self, "depth", py::object(prev.attr("depth")) + py::int_(1));
        for (py::handle tag : g["ZELAst"].attr("inherit_attr")) {
            py::object value = get_tag(prev, tag);
            if (truthy(value))
                set_tag(self, tag, value);
        }
    } else {
        py::setattr(self, "depth", py::int_(0));
    }
    py::setattr(self, "node", node);
    py::setattr(self, "prev", prev);
    py::setattr(self, "symbol", py::dict());
    py::setattr(self, "index", py::int_(0));
}

py::object set_name(const py::object &self, const py::object &n) {
    py::setattr(self, "name", n);
    return self;
}

py::object set_attr(const py::object &self, const py::object &attr, const py::object &n) {
    py::setattr(self, attr, n);
    return self;
}

py::object get_attr(const py::object &self, const py::object &attr) {
    return get_tag(self, attr);
}

py::object set_proj(const Globals &g, const py::object &self, const py::object &n) {
    py::setattr(self, tag_name(g["ZELAst"], projection_tag), n);
    return self;
}

py::object get_proj(const Globals &g, const py::object &self) {
    return get_tag(self, tag_name(g["ZELAst"], projection_tag));
}

py::object get_name(const py::object &self) {
    py::object prev = self.attr("prev");
    py::object text = truthy(prev) ? prev.attr("get_name")() : py::str("");
    py::object name = self.attr("name");
    if (truthy(name))
        text = text + py::str("_") + name;
    return text;
}

py::tuple get_symbol(const py::object &self, const py::object &idx, const py::object &filter) {
    py::object key;
    if (PyUnicode_Check(idx.ptr()))
        key = idx;
    else if (is_a(idx, "Name"))
        key = idx.attr("id");
    else
        return py::make_tuple(py::none(), py::none());
    // The innermost binding wins.
    py::object entry = py::none();
    for (py::object block = self;;) {
        py::dict symbol = block.attr("symbol");
        PyObject *found = PyDict_GetItemWithError(symbol.ptr(), key.ptr());
        if (!found && PyErr_Occurred())
            throw py::error_already_set();
        // Owned before its truth is tested: __bool__ may change the table.
        py::object value = py::reinterpret_borrow<py::object>(found);
        if (found && truthy(value)) {
            entry = value;
            break;
        }
        block = block.attr("prev");
        if (!truthy(block))
            break;
    }
    if (truthy(filter) && !py::isinstance(entry, filter))
        return py::make_tuple(py::none(), py::none());
    return py::make_tuple(entry, key);
}

void set_symbol(const py::object &self, const py::object &key, const py::object &node) {
    if (is_a(key, "Name"))
        self.attr("symbol")[key.attr("id")] = node;
    else if (PyUnicode_Check(key.ptr()))
        self.attr("symbol")[key] = node;
}

void insert_stmt(const py::object &self, const py::object &node) {
    py::object target = depth0_block(self);
    target.attr("node").attr("body").attr("insert")(target.attr("index"), node);
}

py::object get_root(const py::object &self) {
    py::object block = self;
    for (py::object prev = block.attr("prev"); !prev.is_none(); prev = block.attr("prev"))
        block = prev;
    return block;
}

py::tuple is_view(const Globals &g, const py::object &self, const py::object &var) {
    py::tuple found = self.attr("get_symbol")(var, g["ZELAst"].attr("VariableInfo"));
    py::object entry = found[0];
    if (!truthy(entry))
        return py::make_tuple(py::none(), py::none());
    return py::make_tuple(entry.attr("view"), entry.attr("shape"));
}

// StructInfo: the fields of a record dtype, as parallel lists of name, C type and shape.

void struct_info_init(const py::object &self, const py::object &name) {
    py::setattr(self, "name", name);
    py::setattr(self, "var", py::list());
    py::setattr(self, "typ", py::list());
    py::setattr(self, "shp", py::list());
}

void add(const py::object &self, const py::object &v, const py::object &t, const py::object &d) {
    self.attr("var").attr("append")(v);
    self.attr("typ").attr("append")(t);
    self.attr("shp").attr("append")(d);
}

// VariableInfo: a typed variable, with its array description or record dtype.

void variable_info_init(const Globals &g, const py::object &self, const py::object &node,
                        const py::object &cdf, const py::object &call,
                        const py::object &is_struct_view) {
    py::setattr(self, "org_node", node);
    py::setattr(self, "name", py::none());
    py::setattr(self, "view", py::none());
    py::setattr(self, "is_struct_view", is_struct_view);
    py::setattr(self, "shape", py::none());
    py::setattr(self, "dt", py::none());
    py::setattr(self, "cdf", cdf);
    if (!truthy(call))
        return;
    // A numpy call's description is the pair (shape, element type).
    if (is_a(call, "Tuple")) {
        py::object elts = call.attr("elts");
        if (py::len(elts) == 2) {
            py::setattr(self, "view", elts[py::int_(1)]);
            py::setattr(self, "shape", elts[py::int_(0)]);
        }
    } else if (py::isinstance(call, g["ZELAst"].attr("StructInfo"))) {
        py::setattr(self, "dt", call);
    }
}

} // namespace

void add_records(ClassBuilder &zel_ast) {
    zel_ast.attr("RestructureError",
                 nested_error_class(zel_ast, "RestructureError", "ZELAst.Error"));

    ClassBuilder block_info = zel_ast.nested("BlockInfo");
    block_info.method("__init__", block_info_init, py::arg("self"), py::arg("node"),
                      py::arg("prev") = py::none());
    block_info.method("set_name", set_name, py::arg("self"), py::arg("n"));
    block_info.method("set_attr", set_attr, py::arg("self"), py::arg("attr"), py::arg("n"));
    block_info.method("get_attr", get_attr, py::arg("self"), py::arg("attr"));
    block_info.method("set_proj", set_proj, py::arg("self"), py::arg("n"));
    block_info.method("get_proj", get_proj, py::arg("self"));
    block_info.method("get_name", get_name, py::arg("self"));
    block_info.method("get_symbol", get_symbol, py::arg("self"), py::arg("idx"),
                      py::arg("filter") = py::none());
    block_info.method("set_symbol", set_symbol, py::arg("self"), py::arg("key"), py::arg("node"));
    block_info.method("insert_stmt", insert_stmt, py::arg("self"), py::arg("node"));
    block_info.method("get_root", get_root, py::arg("self"));
    block_info.method("is_view", is_view, py::arg("self"), py::arg("var"));
    zel_ast.attr("BlockInfo", block_info.build());

    ClassBuilder struct_info = zel_ast.nested("StructInfo");
    struct_info.method("__init__", struct_info_init, py::arg("self"), py::arg("name"));
    struct_info.method("add", add, py::arg("self"), py::arg("v"), py::arg("t"),
                       py::arg("d") = py::none());
    zel_ast.attr("StructInfo", struct_info.build());

    ClassBuilder variable_info = zel_ast.nested("VariableInfo");
    variable_info.method("__init__", variable_info_init, py::arg("self"), py::arg("node"),
                         py::arg("cdf") = py::none(), py::arg("call") = py::none(),
                         py::arg("is_struct_view") = false);
    zel_ast.attr("VariableInfo", variable_info.build());
}

} // namespace zel
