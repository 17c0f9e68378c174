// Expressions read twice: the test that they read alike, and in-place updates as assignments.
#include "restructure/repeated_reads.hpp"
#include "support/pyast.hpp"

namespace zel {

bool reads_alike_twice(py::handle node) {
    if (is_a(node, "Name") || is_a(node, "Constant"))
        return true;
    if (is_a(node, "Attribute"))
        return reads_alike_twice(node.attr("value"));
    if (is_a(node, "Subscript"))
        return reads_alike_twice(node.attr("value")) && reads_alike_twice(node.attr("slice"));
    if (is_a(node, "Tuple")) {
        for (py::handle element : node.attr("elts"))
            if (!reads_alike_twice(element))
                return false;
        return true;
    }
    if (is_a(node, "UnaryOp"))
        return reads_alike_twice(node.attr("operand"));
    if (is_a(node, "BinOp"))
        return reads_alike_twice(node.attr("left")) && reads_alike_twice(node.attr("right"));
    return false;
}

void write_update_as_assignment(py::handle update, const py::object &value) {
    py::list targets;
    targets.append(update.attr("target"));
    set_class(update, "Assign");
    py::delattr(update, "target");
    py::delattr(update, "op");
    py::setattr(update, "targets", targets);
    py::setattr(update, "value", value);
}

} // namespace zel
