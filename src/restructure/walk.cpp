// The one pass over the script's tree: the entry point, the dispatcher that hands each node
// kind to its rewriting method, the list walk that keeps the insertion index, and the generic
// descent for every node kind without a rewriting method of its own.
#include "restructure/generated_names.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "support/pyast.hpp"

#include <string>

namespace zel {
namespace {

// Node kinds with a rewriting method, in the order the dispatcher tests them.
constexpr const char *rewritten_kinds[] = {
    "Attribute", "Call",      "Name",    "For",    "Assign",     "FunctionDef", "Subscript",
    "AnnAssign", "AugAssign", "Compare", "Import", "ImportFrom", "Return"};

// The rewriting method of a node kind, `reform_<kind>`; a kind whose method is not there (yet)
// takes the generic descent.
py::object rewriting_method(const py::object &cls, const char *kind) {
    py::object method = get_tag(cls, py::str(std::string("reform_") + kind));
    return method.is_none() ? cls.attr("reform_rest") : method;
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
        cls.attr("reform_list")(node, ci);
        return;
    }
    for (const char *kind : rewritten_kinds) {
        if (is_a(node, kind)) {
            rewriting_method(cls, kind)(node, ci);
            return;
        }
    }
    cls.attr("reform_rest")(node, ci);
}

// `ci.index` and `ci.curr` belong to the outermost list walk of a block: its statement list.
// Lists inside one of those statements walked with the same block (arguments, targets,
// handlers, a final block) leave them alone, so that `insert_stmt` from anywhere inside a
// statement places its declaration directly before that statement.
void reform_list(const py::object &cls, const py::list &node, const py::object &ci) {
    py::object mark = cls.attr("dup_chk_idx");
    bool outermost = get_tag(ci, "curr").is_none();
    py::int_ one(1);
    if (outermost)
        py::setattr(ci, "index", py::int_(0));
    py::object reform_stmt = cls.attr("reform_Stmt");
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
            reform_stmt(element, ci);
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
    py::object reform_stmt = cls.attr("reform_Stmt");
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
            reform_stmt(value, new_block(cls, node, ci));
        else
            reform_stmt(value, ci);
    }
}

} // namespace

void add_walk(ClassBuilder &zel_ast) {
    zel_ast.classmethod("restruct", restruct, py::arg("cls"), py::arg("tree"));
    zel_ast.classmethod("reform_Stmt", reform_Stmt, py::arg("cls"), py::arg("node"), py::arg("ci"));
    zel_ast.classmethod("reform_list", reform_list, py::arg("cls"), py::arg("node"), py::arg("ci"));
    zel_ast.classmethod("reform_rest", reform_rest, py::arg("cls"), py::arg("node"), py::arg("ci"));
}

} // namespace zel
