// The one pass over the script's tree: the entry point, the dispatcher that hands each node
// kind to its rewriting method, the list walk that keeps the insertion index, and the generic
// descent for every node kind without a rewriting method of its own.
#include "restructure/generated_names.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/tags.hpp"
#include "support/pyast.hpp"

#include <string>

namespace zel {
namespace {

// The node kinds with a rewriting method of their own, `reform_<kind>`.
constexpr const char *rewritten_kinds[] = {
    "Attribute", "Call",      "Name",    "For",    "Assign",     "FunctionDef", "Subscript",
    "AnnAssign", "AugAssign", "Compare", "Import", "ImportFrom", "Return"};

// The name of the rewriting method for `node`, None for the generic descent: the entry of the
// first class in the table that the node is an instance of (its own class, or a base of it),
// found the first time a node of its type is met and kept for the type. The method itself is
// looked up on `cls` at each call, so a method replaced or added later is the one used.
py::object method_name_of(const py::object &cls, py::handle node) {
    py::handle type = py::type::handle_of(node);
    py::dict cache = cls.attr("rewriting_method_of_type");
    if (PyObject *found = PyDict_GetItemWithError(cache.ptr(), type.ptr()))
        return py::reinterpret_borrow<py::object>(found);
    if (PyErr_Occurred())
        throw py::error_already_set();
    py::object name = py::none();
    for (auto entry : py::dict(cls.attr("rewriting_methods"))) {
        if (is_instance(node, entry.first)) {
            name = py::reinterpret_borrow<py::object>(entry.second);
            break;
        }
    }
    cache[type] = name;
    return name;
}

// Tags and the rewriting's own statement attributes begin with an underscore.
bool is_private(py::handle key) {
    return PyUnicode_GET_LENGTH(key.ptr()) > 0 && PyUnicode_READ_CHAR(key.ptr(), 0) == '_';
}

py::object restruct(const py::object &cls, const py::object &tree) {
    py::object root = new_block(cls, tree);
    reform_stmt(cls, tree.attr("body"), root);
    // The module's prologue cimports Cython's directives for a loop that switched checks off.
    if (truthy(get_tag(root, cython_alias)))
        set_tag(tree, cython_alias, py::bool_(true));
    return tree;
}

void reform_Stmt(const py::object &cls, const py::object &node, const py::object &ci) {
    if (PyList_Check(node.ptr())) {
        walk_list(cls, node, ci);
        return;
    }
    py::object name = method_name_of(cls, node);
    py::object method = name.is_none() ? name : get_tag(cls, name);
    if (method.is_none())
        descend(cls, node, ci);
    else
        method(node, ci);
}

// `ci.index` and `ci.curr` belong to the outermost list walk of a block: its statement list.
// Lists inside one of those statements walked with the same block (arguments, targets,
// handlers, a final block) leave them alone, so that `insert_stmt` from anywhere inside a
// statement places its declaration directly before that statement.
void reform_list(const py::object &cls, const py::list &node, const py::object &ci) {
    py::object mark = tag_name(cls, walked_tag);
    bool outermost = get_tag(ci, "curr").is_none();
    py::int_ one(1);
    if (outermost)
        py::setattr(ci, "index", py::int_(0));
    // By position over the live list: statements inserted while walking are met.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(node.ptr()); ++i) {
        py::object element = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(node.ptr(), i));
        // Text (the names of `global`) and None (a missing dict key or keyword-only default)
        // take no mark and are not walked.
        bool walk = !PyUnicode_Check(element.ptr()) && !element.is_none() &&
                    !truthy(attr_or(element, mark, py::bool_(false)));
        if (walk) {
            if (outermost)
                py::setattr(ci, "curr", element);
            py::setattr(element, mark, py::bool_(true));
            reform_stmt(cls, element, ci);
        }
        if (outermost)
            py::setattr(ci, "index", py::object(ci.attr("index")) + one);
    }
    if (outermost) {
        py::setattr(ci, "index", py::int_(0));
        py::setattr(ci, "curr", py::none());
    }
}

void reform_rest(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object attrs = get_tag(node, "__dict__");
    if (!PyDict_Check(attrs.ptr()))
        return;
    py::object ignore = cls.attr("ignore_attr");
    py::str body("body"), orelse("orelse");
    // The keys as they stand when the descent starts; a value is read when its turn comes, so
    // a child's rewriting may change the attributes still ahead.
    PyObject *keys = PyDict_Keys(attrs.ptr());
    if (!keys)
        throw py::error_already_set();
    for (py::handle key : py::reinterpret_steal<py::list>(keys)) {
        if (!PyUnicode_Check(key.ptr()) || is_private(key) || ignore.contains(key))
            continue;
        PyObject *found = PyDict_GetItemWithError(attrs.ptr(), key.ptr());
        if (!found) {
            if (PyErr_Occurred())
                throw py::error_already_set();
            continue;
        }
        py::object value = py::reinterpret_borrow<py::object>(found);
        if (!truthy(value))
            continue;
        if (body.equal(key) || orelse.equal(key))
            reform_stmt(cls, value, new_block(cls, node, ci));
        else
            reform_stmt(cls, value, ci);
    }
}

} // namespace

void add_walk(ClassBuilder &zel_ast) {
    // The table from node class to the name of its rewriting method, read-only; the classes
    // met in the walk, subclasses and kinds without a method among them, each cached with the
    // entry it takes.
    py::dict table;
    for (const char *kind : rewritten_kinds)
        table[ast_class(kind)] = py::str(std::string("reform_") + kind);
    zel_ast.attr("rewriting_methods", py::module_::import("types").attr("MappingProxyType")(table));
    zel_ast.attr("rewriting_method_of_type", py::dict());
    zel_ast.classmethod("restruct", restruct, py::arg("cls"), py::arg("tree"));
    zel_ast.classmethod("reform_Stmt", reform_Stmt, py::arg("cls"), py::arg("node"), py::arg("ci"));
    zel_ast.classmethod("reform_list", reform_list, py::arg("cls"), py::arg("node"), py::arg("ci"));
    zel_ast.classmethod("reform_rest", reform_rest, py::arg("cls"), py::arg("node"), py::arg("ci"));
}

} // namespace zel
