// Comparisons: equality of C strings and text members compares their contents.
#include "restructure/generated_names.hpp"
#include "restructure/restructure_classes.hpp"
#include "restructure/sibling_calls.hpp"
#include "restructure/tags.hpp"
#include "restructure/text_fields.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"

#include <optional>
#include <string>

namespace zel {
namespace {

bool is_text_constant(py::handle node) {
    return is_a(node, "Constant") && (py::isinstance<py::bytes>(node.attr("value")) ||
                                      py::isinstance<py::str>(node.attr("value")));
}

// `a == b` on C strings compares contents: `_zel_strcmp_(a, b) == 0`; so does `a != b` where
// `a` is a C string in C (a char* variable, a text member read in place or a text function's
// held result), which would
// otherwise compare addresses; a member read as bytes is compared by the interpreter. With a
// text member on either side each operand is read within its bound,
// `_zel_fieldcmp_(a, n, b, m)`, where a C string is read at most one byte past the member it
// is compared with.
void reform_Compare(const py::object &cls, const py::object &node, const py::object &ci) {
    reform_stmt(cls, node.attr("left"), ci);
    reform_stmt(cls, node.attr("comparators"), ci);
    py::list ops = node.attr("ops");
    if (py::len(ops) != 1 || !(is_a(ops[0], "Eq") || is_a(ops[0], "NotEq")))
        return;
    bool equality = is_a(ops[0], "Eq");
    py::list comparators = node.attr("comparators");
    py::object left = node.attr("left"), right = comparators[0];
    std::optional<TextField> left_text = text_field_of(left), right_text = text_field_of(right);
    bool left_is_c_string = is_text_type(type_text(get_tag(left, tag_name(cls, dtype_tag))));
    // A text constant compared with a member read in place (compiled code) is compared in C.
    bool right_in_place = right_text && is_a(right, "Attribute") && is_text_constant(left);
    if (!left_is_c_string && !right_in_place)
        return;
    if (!equality && !right_in_place && left_text && is_a(left, "Call"))
        return;
    py::list args;
    std::string compare = string_compare;
    if (left_text || right_text) {
        compare = field_compare;
        auto past = [](const TextField &text) {
            return py::int_(text.length.cast<long long>() + 1);
        };
        args.append(left_text ? left_text->field : left);
        args.append(constant(left_text ? left_text->length : past(*right_text)));
        args.append(right_text ? right_text->field : right);
        args.append(constant(right_text ? right_text->length : past(*left_text)));
    } else {
        args.append(left);
        args.append(right);
    }
    comparators[0] = constant(0);
    node.attr("left") = call(bare_name(compare), args);
}

} // namespace

void add_comparison_rewriting(ClassBuilder &zel_ast) {
    zel_ast.classmethod("reform_Compare", reform_Compare, py::arg("cls"), py::arg("node"),
                        py::arg("ci"));
}

} // namespace zel
