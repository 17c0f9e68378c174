// The records of the rewriting, nested in ZELAst: its error class, the block record that
// carries scope, symbols, block tags and the insertion point, and the symbol records of
// typed variables and record dtypes. Records are plain instances, so tags are attributes.
#include "restructure/blocks.hpp"
#include "restructure/restructure_classes.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

void add_block_constructor(ClassBuilder &block) {
    // Module, class and function bodies start a new level and inherit no block tags.
    py::tuple scope_kinds = py::make_tuple(ast_class("ClassDef"), ast_class("FunctionDef"),
                                           ast_class("AsyncFunctionDef"), ast_class("Module"));
    block.method(
        "__init__",
        [scope_kinds](const Globals &g, py::object self, py::object node, py::object prev) {
            py::setattr(self, "name", py::str(""));
            if (py::isinstance(node, scope_kinds)) {
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
        },
        py::arg("self"), py::arg("node"), py::arg("prev") = py::none());
}

void add_block_tags(ClassBuilder &block) {
    block.method(
        "set_name",
        [](py::object self, py::object n) {
            py::setattr(self, "name", n);
            return self;
        },
        py::arg("self"), py::arg("n"));
    block.method(
        "set_attr",
        [](py::object self, py::object attr, py::object n) {
            py::setattr(self, attr, n);
            return self;
        },
        py::arg("self"), py::arg("attr"), py::arg("n"));
    block.method(
        "get_attr", [](py::object self, py::object attr) { return get_tag(self, attr); },
        py::arg("self"), py::arg("attr"));
    block.method(
        "set_proj",
        [](const Globals &g, py::object self, py::object n) {
            py::setattr(self, g["ZELAst"].attr("pidx"), n);
            return self;
        },
        py::arg("self"), py::arg("n"));
    block.method(
        "get_proj",
        [](const Globals &g, py::object self) { return get_tag(self, g["ZELAst"].attr("pidx")); },
        py::arg("self"));
    block.method(
        "get_name",
        [](py::object self) {
            py::object prev = self.attr("prev");
            py::object text = truthy(prev) ? prev.attr("get_name")() : py::str("");
            py::object name = self.attr("name");
            if (truthy(name))
                text = text + py::str("_") + name;
            return text;
        },
        py::arg("self"));
}

void add_block_symbols(ClassBuilder &block) {
    py::object name_class = ast_class("Name");
    block.method(
        "get_symbol",
        [name_class](py::object self, py::object idx, py::object filter) -> py::tuple {
            py::object key;
            if (PyUnicode_Check(idx.ptr()))
                key = idx;
            else if (py::isinstance(idx, name_class))
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
        },
        py::arg("self"), py::arg("idx"), py::arg("filter") = py::none());
    block.method(
        "set_symbol",
        [name_class](py::object self, py::object key, py::object node) {
            if (py::isinstance(key, name_class))
                self.attr("symbol")[key.attr("id")] = node;
            else if (PyUnicode_Check(key.ptr()))
                self.attr("symbol")[key] = node;
        },
        py::arg("self"), py::arg("key"), py::arg("node"));
    block.method(
        "insert_stmt",
        [](py::object self, py::object node) {
            py::object target = depth0_block(self);
            target.attr("node").attr("body").attr("insert")(target.attr("index"), node);
        },
        py::arg("self"), py::arg("node"));
    block.method(
        "get_root",
        [](py::object self) {
            py::object block = self;
            for (py::object prev = block.attr("prev"); !prev.is_none(); prev = block.attr("prev"))
                block = prev;
            return block;
        },
        py::arg("self"));
    block.method(
        "is_view",
        [](const Globals &g, py::object self, py::object var) -> py::tuple {
            py::tuple found = self.attr("get_symbol")(var, g["ZELAst"].attr("VariableInfo"));
            py::object entry = found[0];
            if (!truthy(entry))
                return py::make_tuple(py::none(), py::none());
            return py::make_tuple(entry.attr("view"), entry.attr("shape"));
        },
        py::arg("self"), py::arg("var"));
}

py::object make_block_info(const ClassBuilder &zel_ast) {
    ClassBuilder block = zel_ast.nested("BlockInfo");
    add_block_constructor(block);
    add_block_tags(block);
    add_block_symbols(block);
    return block.build();
}

py::object make_struct_info(const ClassBuilder &zel_ast) {
    ClassBuilder info = zel_ast.nested("StructInfo");
    info.method(
        "__init__",
        [](py::object self, py::object name) {
            py::setattr(self, "name", name);
            py::setattr(self, "var", py::list());
            py::setattr(self, "typ", py::list());
            py::setattr(self, "shp", py::list());
        },
        py::arg("self"), py::arg("name"));
    info.method(
        "add",
        [](py::object self, py::object v, py::object t, py::object d) {
            self.attr("var").attr("append")(v);
            self.attr("typ").attr("append")(t);
            self.attr("shp").attr("append")(d);
        },
        py::arg("self"), py::arg("v"), py::arg("t"), py::arg("d") = py::none());
    return info.build();
}

py::object make_variable_info(const ClassBuilder &zel_ast) {
    ClassBuilder info = zel_ast.nested("VariableInfo");
    py::object tuple_class = ast_class("Tuple");
    info.method(
        "__init__",
        [tuple_class](const Globals &g, py::object self, py::object node, py::object cdf,
                      py::object call, py::object is_struct_view) {
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
            if (py::isinstance(call, tuple_class)) {
                py::object elts = call.attr("elts");
                if (py::len(elts) == 2) {
                    py::setattr(self, "view", elts[py::int_(1)]);
                    py::setattr(self, "shape", elts[py::int_(0)]);
                }
            } else if (py::isinstance(call, g["ZELAst"].attr("StructInfo"))) {
                py::setattr(self, "dt", call);
            }
        },
        py::arg("self"), py::arg("node"), py::arg("cdf") = py::none(), py::arg("call") = py::none(),
        py::arg("is_struct_view") = false);
    return info.build();
}

} // namespace

py::object depth0_block(py::object block) {
    while (block.attr("depth").cast<long>() != 0)
        block = block.attr("prev");
    return block;
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

void add_records(ClassBuilder &zel_ast) {
    zel_ast.attr("RestructureError",
                 nested_error_class(zel_ast, "RestructureError", "ZELAst.Error"));
    zel_ast.attr("BlockInfo", make_block_info(zel_ast));
    zel_ast.attr("StructInfo", make_struct_info(zel_ast));
    zel_ast.attr("VariableInfo", make_variable_info(zel_ast));
}

} // namespace zel
