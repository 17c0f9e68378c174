// Type expressions and annotated assignments: C type texts for scalars, byte strings,
// C-contiguous memory views and record structs, and the `cdef` declarations of annotated
// names, in place at depth 0 or hoisted out of loops and branches.
#include "restructure/blocks.hpp"
#include "restructure/record_pointers.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/symbols.hpp"
#include "restructure/tags.hpp"
#include "restructure/text_fields.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/script_fault.hpp"
#include "support/text.hpp"

namespace zel {
namespace {

using namespace pybind11::literals;

// Registers a record dtype used as an array element type and returns its struct type name,
// or None when `type_name` holds no record dtype.
py::object struct_element_type(const py::object &cls, const std::string &type_name,
                               const py::object &ci) {
    py::object entry = symbol_of(ci, py::str(type_name));
    if (!is_variable(cls, entry))
        return py::none();
    py::object record = entry.attr("dt");
    if (!is_record_description(cls, record))
        return py::none();
    py::dict struct_def = cls.attr("struct_def");
    struct_def[py::str(type_name)] = record;
    return py::str(struct_type_name(py::str(type_name), record));
}

py::object proc_tuple_vardef(const py::object &cls, const py::object &target,
                             const py::object &ci) {
    py::tuple items;
    if (is_a(target, "Tuple"))
        items = py::tuple(target.attr("elts"));
    else if (py::isinstance<py::tuple>(target))
        items = py::reinterpret_borrow<py::tuple>(target);
    else
        return py::none();
    if (items.size() != 2)
        return py::none();
    py::object shape = items[0];
    std::string type_name = text_of(dotted_name(cls, items[1], ci));
    if (type_name.empty())
        return py::none();

    py::object element = table_type(cls, type_name);
    if (element.is_none())
        element = struct_element_type(cls, type_name, ci);
    if (element.is_none())
        return py::none();

    std::string view = text_of(element);
    if (!is_a(shape, "Tuple"))
        return py::str(view + view_suffix(1));
    size_t dims = py::len(shape.attr("elts"));
    if (dims == 0 || dims > 6)
        return py::none();
    return py::str(view + view_suffix(dims));
}

py::object proc_vardef(const py::object &cls, const py::object &target, const py::object &ci) {
    if (!truthy(target))
        return py::none();
    py::object view = proc_tuple_vardef(cls, target, ci);
    if (truthy(view))
        return view;
    std::string type_name = text_of(dotted_name(cls, target, ci));
    if (type_name.empty())
        return py::none();
    if (is_byte_string_type(type_name))
        return py::str(text_type);
    py::object ctype = table_type(cls, type_name);
    if (!truthy(ctype) && is_a(target, "Name"))
        ctype = table_type(cls, text_of(target.attr("id")));
    return truthy(ctype) ? ctype : py::none();
}

py::tuple get_struct_view(const py::object &cls, const py::object &target) {
    py::tuple nothing = py::make_tuple(py::none(), py::none());
    py::object name = is_a(target, "Name") ? target.attr("id") : target;
    if (!py::isinstance<py::str>(name))
        return nothing;
    py::object struct_def = cls.attr("struct_def");
    if (!py::isinstance<py::dict>(struct_def)) // already written out by the emitter
        return nothing;
    py::object record = struct_def.attr("get")(name);
    if (!is_record_description(cls, record))
        return nothing;
    return py::make_tuple(name, record);
}

// The statement keeps its value as a plain assignment, or becomes `pass`.
void reduce_to_assignment(const py::object &node) {
    if (truthy(node.attr("value"))) {
        set_class(node, "Assign");
        py::list targets;
        targets.append(node.attr("target"));
        node.attr("targets") = targets;
    } else {
        set_class(node, "Pass");
    }
    py::delattr(node, "annotation");
    py::delattr(node, "target");
}

// The declaration, tagged like an in-place one, goes into the nearest depth-0 block in
// front of the statement being walked.
void hoist_declaration(const py::object &cls, const py::object &node, const py::object &cdf,
                       const py::object &ci) {
    py::object decl = ann_assign(node.attr("target"), node.attr("annotation"), py::none());
    decl.attr("lineno") = node.attr("lineno");
    declarations(ci)[node.attr("target").attr("id")] = decl;
    set_tag(decl, tag_name(cls, dtype_tag), cdf);
    set_tag(decl, tag_name(cls, cdef_tag), py::bool_(true));
    reduce_to_assignment(node);
    insert_declaration(ci, decl);
}

// The C type of a `cdef` declaration of `name` other than `node` made in the body of the
// nearest depth-0 block, or None. A declaration hoisted out of one loop is not visible to a
// sibling loop, yet both land in the same C scope, where a second one would be a
// redeclaration.
py::object declared_before(const py::object &cls, const py::object &node, const py::object &name,
                           const py::object &ci) {
    py::object declaration = declarations(ci).attr("get")(name);
    if (declaration.is_none() || declaration.is(node))
        return py::none();
    return get_tag(declaration, tag_name(cls, dtype_tag));
}

// The C type of the typed binding of `name` in the C scope of `ci`: its blocks out to the
// nearest depth-0 block. An enclosing function's or the module's name is another variable,
// and a parameter of a list written untyped is a Python object.
py::object type_in_scope(const py::object &cls, const py::object &ci, const py::object &name) {
    for (py::object block = ci; truthy(block); block = block.attr("prev")) {
        py::object entry = block.attr("symbol").attr("get")(name);
        if (truthy(entry)) {
            if (!is_variable(cls, entry))
                return py::none();
            if (is_a(entry.attr("org_node"), "arg") &&
                !truthy(get_tag(block.attr("node").attr("args"), tag_name(cls, dtype_tag))))
                return py::none();
            return entry.attr("cdf");
        }
        if (block.attr("depth").cast<long>() == 0)
            break;
    }
    return py::none();
}

// The scalar C type an annotation names, or None; unlike a declaration it registers nothing.
py::object scalar_type(const py::object &cls, const py::object &annotation, const py::object &ci) {
    std::string type_name = text_of(dotted_name(cls, annotation, ci));
    if (is_byte_string_type(type_name))
        return py::str(text_type);
    return table_type(cls, type_name);
}

// A C variable keeps its one type: a second annotation with another C type would leave the
// value converted to the first, so it is a fault of the script.
void refuse_other_type(const py::object &node, const py::object &declared, const py::object &cdf) {
    if (!truthy(declared) || !truthy(cdf) || declared.equal(cdf))
        return;
    script_fault("`" + text_of(node.attr("target").attr("id")) + "` is declared " +
                 text_of(declared) + "; it cannot be annotated `" +
                 unparse(node.attr("annotation")) + "` again. line " +
                 text_of(node.attr("lineno")));
}

// The compiler keeps a class body's annotations as their source texts; the interpreter keeps
// their values, which dataclasses and `__annotations__` show. The value is stored after the
// statement, evaluated where the interpreter evaluates it.
void keep_class_annotation(const py::object &cls, const py::object &node, const py::object &ci) {
    if (!truthy(node.attr("simple")))
        return;
    py::object name = node.attr("target").attr("id");
    py::object store =
        parse_statement(py::str("__annotations__[") + py::repr(name) + py::str("] = None"));
    store.attr("value") = node.attr("annotation");
    insert_after(cls, ci, node, store);
}

void reform_AnnAssign(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object value = node.attr("value");
    reform_stmt(cls, value, ci);
    copy_text_variable(cls, node, ci);
    value = node.attr("value");
    py::object value_type = get_tag(value, tag_name(cls, dtype_tag));
    py::object target = node.attr("target");
    if (!is_a(target, "Name"))
        return;
    if (in_class_body(ci)) {
        bind(ci, target.attr("id"), node);
        keep_class_annotation(cls, node, ci);
        return;
    }
    if (truthy(scope_symbol_of(ci, target.attr("id")))) {
        refuse_other_type(node, type_in_scope(cls, ci, target.attr("id")),
                          scalar_type(cls, node.attr("annotation"), ci));
        return;
    }

    py::object annotation = node.attr("annotation");
    py::object cdf = py::none();
    py::object sym = py::none();
    if (is_a(annotation, "Tuple")) {
        cdf = proc_tuple_vardef(cls, annotation, ci);
        if (truthy(cdf))
            sym = new_variable(cls, node, cdf, "call"_a = annotation);
    } else {
        std::string type_name = text_of(dotted_name(cls, annotation, ci));
        if (is_byte_string_type(type_name)) {
            cdf = py::str(text_type);
        } else if (truthy(table_type(cls, type_name))) {
            cdf = table_type(cls, type_name);
        } else {
            py::object record = get_struct_view(cls, py::str(type_name))[1];
            bool value_is_pointer = truthy(value_type) && is_pointer_type(text_of(value_type));
            if (!record.is_none() && !value_is_pointer) {
                cdf = py::str(pointer_to(struct_type_name(py::str(type_name), record)));
                if (truthy(value))
                    set_tag(value, tag_name(cls, reference_tag), py::bool_(true));
            }
        }
        if (truthy(cdf))
            sym = new_variable(cls, node, cdf);
    }

    py::object name = target.attr("id");
    if (sym.is_none()) {
        bind(ci, name, node);
        return;
    }
    py::object earlier = declared_before(cls, node, name, ci);
    if (!earlier.is_none()) {
        // Declared already with this type: only the assignment is left.
        refuse_other_type(node, earlier, cdf);
        bind(ci, name, sym);
        reduce_to_assignment(node);
        if (truthy(get_tag(value, tag_name(cls, reference_tag))))
            keep_table_alive(cls, node, name, ci);
        return;
    }
    bind(ci, name, sym);
    if (ci.attr("depth").cast<long>() == 0) {
        set_tag(node, tag_name(cls, cdef_tag), py::bool_(true));
        set_tag(node, tag_name(cls, dtype_tag), cdf);
        declarations(ci)[name] = node;
    } else {
        hoist_declaration(cls, node, cdf, ci);
    }
    if (truthy(get_tag(value, tag_name(cls, reference_tag))))
        keep_table_alive(cls, node, name, ci);
}

} // namespace

void add_annotation_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("proc_tuple_vardef", proc_tuple_vardef, py::arg("cls"), py::arg("target"),
                        py::arg("ci"));
    zel_ast.classmethod("proc_vardef", proc_vardef, py::arg("cls"), py::arg("target"),
                        py::arg("ci"));
    zel_ast.classmethod("get_struct_view", get_struct_view, py::arg("cls"), py::arg("target"));
    zel_ast.classmethod("reform_AnnAssign", reform_AnnAssign, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
