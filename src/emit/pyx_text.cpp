// Writes the rewritten tree as .pyx text and maps the lines that carry a line marker back to
// the script lines they came from.
#include "emit/pyx_text.hpp"
#include "emit/emitter_calls.hpp"
#include "support/objects.hpp"

namespace zel {

py::tuple pyx_text_with_line_map(const Globals &g, const py::object &tree) {
    py::object unparser = g["ZELUnparser"]();
    emitter::traverse(unparser, tree);
    unparser.attr("finalize")();

    py::object zel_const = g["ZELConst"];
    py::str head = zel_const.attr("pattern1");
    py::str tail = zel_const.attr("pattern2");
    py::ssize_t head_len = py::len(head);
    py::ssize_t tail_len = py::len(tail);
    py::str line_break("\n");

    py::dict line_map;
    long line = 1;
    // The first line of the output line being written: a piece of its own that is a line
    // break ends one output line; a line break inside a piece (a string that spans lines)
    // does not.
    long first_line = 1;
    py::list text;
    for (py::handle piece : unparser.attr("_source")) {
        if (PyUnicode_Check(piece.ptr())) {
            if (truthy(piece.attr("startswith")(head)) && truthy(piece.attr("endswith")(tail))) {
                try {
                    py::object digits = piece[py::slice(head_len, py::len(piece) - tail_len, 1)];
                    // Every line of the output line is the marker's: Cython reports a
                    // statement at the line it begins on.
                    py::int_ script_line(digits);
                    for (long spanned = first_line; spanned <= line; ++spanned)
                        line_map[py::int_(spanned)] = script_line;
                } catch (py::error_already_set &e) {
                    if (!e.matches(PyExc_Exception))
                        throw;
                    // The fixed message, with what went wrong as its cause.
                    py::raise_from(e, g["ZEL"].attr("Error").ptr(), "unparse error while linemap.");
                    throw py::error_already_set();
                }
            }
            // A piece that holds several line breaks (a docstring spanning lines) advances
            // the count by all of them, so the keys stay the line numbers Cython reports.
            line += py::int_(piece.attr("count")(line_break)).cast<long>();
            if (py_equal(piece, line_break))
                first_line = line;
        }
        text.append(py::str(piece));
    }
    return py::make_tuple(py::str("").attr("join")(text), line_map);
}

} // namespace zel
