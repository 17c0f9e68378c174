// Returns: a text function returns its text in the thread's buffer.
#include "restructure/blocks.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/tags.hpp"
#include "restructure/text_fields.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"

#include <optional>

namespace zel {
namespace {

// What a text function returns for `value`: a text member or a text variable is copied into the
// thread's buffer, `_zel_textret_(value, n)`, bounded by the member's length n or, for a
// variable (-1), by the buffer's (a longer text is in none of these copies and is returned as
// it is); a variable may point to the caller's copy of an argument, which ends with the call's
// statement. A text function's result is in that buffer already.
py::object returned_text(const py::object &value) {
    if (is_a(value, "IfExp")) {
        value.attr("body") = returned_text(value.attr("body"));
        value.attr("orelse") = returned_text(value.attr("orelse"));
        return value;
    }
    if (is_a(value, "BoolOp")) {
        py::list operands = value.attr("values");
        for (size_t i = 0; i < py::len(operands); ++i)
            operands[i] = returned_text(operands[i]);
        return value;
    }
    py::object length;
    if (std::optional<TextField> text = text_field_of(value); text && is_a(value, "Attribute"))
        length = text->length;
    else if (is_a(value, "Name"))
        length = py::int_(-1);
    else
        return value;
    py::list args;
    args.append(value);
    args.append(constant(length));
    return call(bare_name(text_return), args);
}

void reform_Return(const py::object &cls, const py::object &node, const py::object &ci) {
    py::object value = node.attr("value");
    if (value.is_none())
        return;
    reform_stmt(cls, value, ci);
    py::object function = depth0_block(ci).attr("node");
    if (!is_a(function, "FunctionDef") ||
        !py_equal(get_tag(function, tag_name(cls, dtype_tag)), py::str(text_type)))
        return;
    use_text_helpers(ci);
    node.attr("value") = returned_text(value);
}

} // namespace

void add_return_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Return", reform_Return, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
