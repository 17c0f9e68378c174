// The reference walk of projection statements. Each distinct name of a statement gets one
// entry [name, mode, 0, write mark, slice mark]: the mode letters say how the statement uses
// the name ("r" read, "w" assigned, "rw" augmented, "Aw" annotated, "Fw" loop target; several
// uses merge their letters), and the slice mark is what the time-slice tags of the name's
// subscripts give together: an offset or any step "*" outweighs the current step "T", and the
// others add up: reads behind and ahead give "-+", behind and at any step "-*". The write mark
// is the same of the subscripts the statement assigns to only, "" when there are none: where
// it writes, apart from where it reads what it has written.
#include "restructure/projection_references.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/tags.hpp"
#include "support/objects.hpp"
#include "support/pyast.hpp"

#include <string>

namespace zel {
namespace {

[[noreturn]] void syntax_error(const std::string &text) {
    raise_error(PyExc_SyntaxError, text);
}

std::string class_text(py::handle value) {
    return text_of(py::type::of(value));
}

// A name used with `ref_type`: merged into its entry, or a new entry that is returned.
py::object record_name(const py::object &cls, const py::object &node, py::list output,
                       const py::object &ref_type) {
    py::str id = node.attr("id");
    if (!truthy(id.attr("isascii")()))
        syntax_error("Encoding error `" + text_of(id) + "` at line " +
                     text_of(attr_or(node, "lineno")));
    for (py::handle entry : output) {
        if (py_equal(entry[py::int_(0)], id)) {
            entry[py::int_(1)] = merged_reference_type(cls, entry[py::int_(1)], ref_type);
            return py::none();
        }
    }
    py::list entry;
    entry.append(id);
    entry.append(ref_type);
    entry.append(0);
    entry.append("");
    entry.append(py::none());
    output.append(entry);
    return entry;
}

// The mark of a name met again through a subscript marked `mark`: every offset at which a
// statement reads a name decides where the statement runs.
py::object merged_mark(const py::object &old, const py::object &mark) {
    if (!truthy(old) || py_equal(old, py::str("T")))
        return mark;
    if (py_equal(mark, py::str("T")))
        return old;
    std::string both = text_of(old) + text_of(mark);
    std::string letters;
    for (char letter : std::string("-+*"))
        if (both.find(letter) != std::string::npos)
            letters += letter;
    return py::str(letters);
}

py::object entry_of(const py::list &output, const py::object &id) {
    for (py::handle entry : output)
        if (py_equal(entry[py::int_(0)], id))
            return py::reinterpret_borrow<py::object>(entry);
    return py::none();
}

py::object make_global_ref_list_expr(py::object cls, py::object node, py::list output,
                                     py::object ref_type) {
    auto walk = [&](py::object child, py::object mode) {
        return make_global_ref_list_expr(cls, child, output, mode);
    };
    py::str read("r");
    if (node.is_none())
        return py::none();
    if (PyList_Check(node.ptr())) {
        for (py::handle element : node)
            walk(py::reinterpret_borrow<py::object>(element), ref_type);
    } else if (is_a(node, "For")) {
        // The iterator and the else clause are not references of the statement.
        py::object target = node.attr("target");
        py::str loop_target("Fw");
        if (is_a(target, "Name"))
            walk(target, loop_target);
        else if (is_a(target, "Tuple"))
            for (py::handle element : target.attr("elts"))
                walk(py::reinterpret_borrow<py::object>(element), loop_target);
        walk(node.attr("body"), read);
    } else if (is_a(node, "Assign")) {
        for (py::handle target : node.attr("targets"))
            walk(py::reinterpret_borrow<py::object>(target), py::str("w"));
        walk(node.attr("value"), read);
    } else if (is_a(node, "AugAssign")) {
        walk(node.attr("target"), py::str("rw"));
        walk(node.attr("value"), read);
    } else if (is_a(node, "AnnAssign")) {
        walk(node.attr("target"), py::str("Aw"));
        walk(node.attr("value"), read);
    } else if (is_a(node, "Name")) {
        return record_name(cls, node, output, ref_type);
    } else if (is_a(node, "Call")) {
        walk(node.attr("args"), ref_type);
    } else if (is_a(node, "Subscript")) {
        py::object value = node.attr("value");
        if (is_a(value, "Name")) {
            walk(value, ref_type);
            py::object mark = get_tag(node, tag_name(cls, time_slice_tag));
            if (truthy(mark)) {
                py::object entry = entry_of(output, value.attr("id"));
                entry[py::int_(4)] = merged_mark(entry[py::int_(4)], mark);
                if (ref_type.contains(py::str("w")))
                    entry[py::int_(3)] = merged_mark(entry[py::int_(3)], mark);
            }
        } else if (is_a(value, "Subscript") || is_a(value, "Attribute")) {
            walk(value, ref_type);
        } else {
            syntax_error("ERROR 3359(" + class_text(value) + " at line " +
                         text_of(node.attr("lineno")));
        }
        walk(node.attr("slice"), read);
    } else if (is_a(node, "Attribute")) {
        walk(node.attr("value"), ref_type);
    } else if (PyLong_Check(node.ptr()) || PyFloat_Check(node.ptr()) ||
               PyUnicode_Check(node.ptr()) || is_a(node, "Constant")) {
        return py::none();
    } else if (is_a(node, "AST")) {
        for (py::handle child : child_nodes(node))
            walk(py::reinterpret_borrow<py::object>(child), ref_type);
    } else {
        syntax_error("ERROR 2920 " + class_text(node));
    }
    return py::none();
}

py::list make_global_ref_list(py::object cls, py::object node) {
    py::list output;
    add_global_references(cls, node, output);
    return output;
}

} // namespace

void add_reference_walk(ClassBuilder &zel_ast) {
    zel_ast.classmethod("make_global_ref_list", make_global_ref_list, py::arg("cls"),
                        py::arg("node"));
    zel_ast.classmethod("make_global_ref_list_expr", make_global_ref_list_expr, py::arg("cls"),
                        py::arg("node"), py::arg("output"), py::arg("ref_type") = "r");
}

} // namespace zel
