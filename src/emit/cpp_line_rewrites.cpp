// The C++ text as the build gets it: its references to the .pyx file name the script's file and
// lines, the remainder helpers keep Python's result for a divisor of -1, a Python object's
// negative index is the interpreter's, classes and functions name the module as the
// interpreter names it, and objects convert to C integers only by __index__.
#include "emit/cpp_line_rewrites.hpp"
#include "emit/integer_conversion.hpp"
#include "support/objects.hpp"

#include "restructure/generated_names.hpp"
#include "support/objects.hpp"
#include "support/text.hpp"
#include "support/text_template.hpp"

#include <cstddef>
#include <utility>
#include <vector>

namespace zel {
namespace {

[[noreturn]] void raise_compile_error(const py::object &cls, const std::string &message) {
    raise_error(cls.attr("CompileError")(message));
}

// "__PYX_ERR(0, <pyx line>," gets the script line that the line map gives for it.
void rewrite_error_position(std::string &line, const py::object &line_map, const py::object &cls) {
    static const std::string err_call = "__PYX_ERR(0, ";
    std::size_t p = line.find(err_call);
    if (p == std::string::npos)
        return;
    // The pyx line number follows the call's opening text and ends at the next comma.
    const std::size_t number_at = p + err_call.size();
    std::string tail = line.substr(number_at);
    std::size_t q = tail.find(',');
    py::int_ target(py::str(tail.substr(0, q)));
    if (!line_map.contains(target))
        raise_compile_error(cls, "fatal: line mismatch. target_line=" + text_of(target));
    std::string mapped = text_of(line_map[target]);
    line = line.substr(0, number_at) + mapped + (q == std::string::npos ? "" : tail.substr(q));
}

// The pseudo source file name "<module>.pyx" becomes the script's "<module>.py" where it
// stands as a string of its own: the file-name table and the position comments. Cython 3.1
// and later also keep the name inside one long literal that packs every string constant
// back to back with their lengths in a separate table; changing the name there would shift
// every constant after it, so only a name between double quotes is replaced.
void rewrite_file_name(std::string &line, const std::string &module_name) {
    const std::string pyx_name = module_name + ".pyx";
    std::size_t r = line.find("\"" + pyx_name + "\"");
    if (r == std::string::npos)
        return;
    line.replace(r + 1, pyx_name.size(), module_name + ".py");
}

// Python's `x % -1` is 0 for every x; the C remainder of the smallest integer by -1
// overflows and ends the process with SIGFPE. The compiler's remainder helpers
// (`__Pyx_mod_<type>`, for signed integers with Python's division) take that divisor aside
// before they divide: one predictable branch beside the division. `in_helper` carries, from
// line to line, that a helper's body has begun.
void guard_remainder_by_minus_one(std::string &line, bool &in_helper) {
    static const std::string remainder = " r = a % b;";
    if (starts_with(line, "static CYTHON_INLINE ") &&
        line.find(" __Pyx_mod_") != std::string::npos && ends_with(line, "{")) {
        in_helper = true;
        return;
    }
    if (!in_helper)
        return;
    in_helper = false;
    if (ends_with(line, remainder))
        line.replace(line.size() - remainder.size(), remainder.size(),
                     " r = (b == -1) ? 0 : a % b;");
}

// zel translates with wraparound off, so that a typed array's index is used as it is; the
// compiler passes that to its helpers for a C integer index of a Python object too, which then
// hand a negative index unchanged to the type's sequence slot where the type has one (numpy
// 2.5's arrays, say), and those read it as already wrapped. A negative index of a Python object
// goes to the interpreter's own subscript instead, which indexes as Python does. `pending`
// carries, from line to line, the helper whose definition has begun, until its body opens.
struct ItemHelper {
    const char *name;
    const char *by_python;
};
const ItemHelper item_helpers[] = {
    {"__Pyx_GetItemInt_Fast(", "return __Pyx_GetItemInt_Generic(o, PyLong_FromSsize_t(i));"},
    {"__Pyx_SetItemInt_Fast(", "return __Pyx_SetItemInt_Generic(o, PyLong_FromSsize_t(i), v);"},
    {"__Pyx_DelItemInt_Fast(", "return __Pyx_DelItem_Generic(o, PyLong_FromSsize_t(i));"}};

void index_negatives_as_python(std::string &line, const ItemHelper *&pending) {
    if (starts_with(line, "static CYTHON_INLINE "))
        for (const ItemHelper &helper : item_helpers)
            if (line.find(helper.name) != std::string::npos)
                pending = &helper;
    if (!pending)
        return;
    if (ends_with(line, "{")) {
        line += std::string(" if (unlikely(i < 0)) ") + pending->by_python;
        pending = nullptr;
    } else if (ends_with(line, ";")) {
        pending = nullptr;
    }
}

// The interpreter gives a class or function defined in a module the `__module__` that the
// module's `__name__` holds when it is defined: "__main__" for the script, "__mp_main__" in a
// child process of multiprocessing. The compiler writes its own module's name as a constant
// instead; in its calls that make classes and functions, that argument becomes the module's
// `__name__` at that moment.
struct DefinitionCall {
    const char *call;
    std::size_t module_argument;
};
const DefinitionCall definition_calls[] = {{"__Pyx_Py3MetaclassPrepare(", 5},
                                           {"__Pyx_CyFunction_New(", 4}};

constexpr const char *module_name_helper = R"c(
static PyObject *${module_name}(PyObject *globals, PyObject *fallback) {
    PyObject *name = PyDict_GetItemString(globals, "__name__");
    return name ? name : fallback;
})c";

// The spans of the top-level arguments of the call whose opening parenthesis ends at `open`.
std::vector<std::pair<std::size_t, std::size_t>> call_arguments(const std::string &line,
                                                                std::size_t open) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    int depth = 0;
    std::size_t start = open;
    for (std::size_t i = open; i < line.size(); ++i) {
        char c = line[i];
        if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if ((c == ',' || c == ')') && depth == 0) {
            spans.emplace_back(start, i);
            if (c == ')')
                break;
            start = i + 1;
        }
    }
    return spans;
}

void name_definitions_by_module_name(std::string &line, const std::string &module_dict) {
    for (const DefinitionCall &definition : definition_calls) {
        std::size_t p = line.find(definition.call);
        if (p == std::string::npos)
            continue;
        auto spans = call_arguments(line, p + std::string(definition.call).size());
        if (spans.size() <= definition.module_argument)
            continue;
        auto [from, to] = spans[definition.module_argument];
        std::string argument = line.substr(from, to - from);
        line.replace(from, to - from,
                     " " + std::string(c_module_name) + "(" + module_dict + "," + argument + ")");
    }
}

} // namespace

py::str map_to_script(const py::str &text, const py::object &line_map,
                      const std::string &module_name, const py::object &cls,
                      const py::object &consts) {
    std::string out = text_of(consts.attr("cpp_prefix"));
    bool first = true;
    bool in_remainder_helper = false;
    // Cython 3.1 and later keep the module's globals in its state structure.
    std::string all = text_of(text);
    const std::string module_dict = all.find("__pyx_mstate_global->__pyx_d") != std::string::npos
                                        ? "__pyx_mstate_global->__pyx_d"
                                        : "__pyx_d";
    const std::string implementation = "/* Implementation of \"" + module_name + "\" */";
    bool in_integer_conversion = false;
    const ItemHelper *item_helper = nullptr;
    for (py::handle item : text.attr("splitlines")()) {
        std::string line = text_of(item);
        rewrite_error_position(line, line_map, cls);
        rewrite_file_name(line, module_name);
        guard_remainder_by_minus_one(line, in_remainder_helper);
        index_negatives_as_python(line, item_helper);
        name_definitions_by_module_name(line, module_dict);
        if (line == implementation)
            line =
                fill_template(module_name_helper, {{"module_name", c_module_name}}) + "\n" + line;
        convert_integers_by_index(line, in_integer_conversion);
        if (!first)
            out += '\n';
        out += line;
        first = false;
    }
    return py::str(out);
}

} // namespace zel

namespace zel {

py::str name_script_file(const py::str &text, const std::string &module_name,
                         const std::string &stem) {
    const std::string from = "\"" + module_name + ".py\"";
    std::string to = "\"";
    for (char c : stem + ".py") {
        if (c == '"' || c == '\\')
            to += '\\';
        to += c;
    }
    to += '"';
    std::string out = text_of(text);
    for (std::size_t p = out.find(from); p != std::string::npos; p = out.find(from, p + to.size()))
        out.replace(p, from.size(), to);
    return py::str(out);
}

} // namespace zel
