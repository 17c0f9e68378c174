// A fully typed function is first written as a C function without the interpreter; where the
// compiler refuses its body for needing it, the function is written with it instead.
#include "emit/interpreter_use.hpp"

#include "support/objects.hpp"
#include "support/text.hpp"

#include <algorithm>
#include <cctype>
#include <set>

namespace zel {
namespace {

const char *const nogil_end = " nogil:";

std::string message_of(const py::handle &error) {
    std::string text = text_of(attr_or(error, "message_only", py::str(error)));
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool needs_interpreter(const std::string &message) {
    return message.find("without gil") != std::string::npos ||
           message.find("without the gil") != std::string::npos ||
           starts_with(message, "function declared nogil");
}

// The .pyx line of an error (1-based), 0 when it has none in the .pyx text.
long line_of(const py::handle &error) {
    py::object position = error.attr("position");
    if (position.is_none())
        return 0;
    return py::cast<long>(py::tuple(position)[1]);
}

long column_of(const py::handle &error) {
    return py::cast<long>(py::tuple(error.attr("position"))[2]);
}

bool opens_c_function(const std::string &line) {
    return starts_with(line, "cdef ") || starts_with(line, "cpdef ");
}

// The header of the module-level definition that `line` lies in: the nearest line from it
// upward that starts at the margin. 0 when that is no C function without the interpreter.
long nogil_header_of(const std::vector<std::string> &lines, long line) {
    for (long k = std::min<long>(line, static_cast<long>(lines.size())); k > 0; --k) {
        const std::string &text = lines[static_cast<size_t>(k - 1)];
        if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || text[0] == '#')
            continue;
        return opens_c_function(text) && ends_with(text, nogil_end) ? k : 0;
    }
    return 0;
}

// The name called at `column`: the compiler places a call at its opening parenthesis.
std::string called_name(const std::string &line, long column) {
    auto end = static_cast<size_t>(std::clamp<long>(column, 0, static_cast<long>(line.size())));
    size_t start = end;
    while (start > 0 &&
           (std::isalnum(static_cast<unsigned char>(line[start - 1])) || line[start - 1] == '_'))
        --start;
    return line.substr(start, end - start);
}

bool defined_with_interpreter(const std::vector<std::string> &lines, const std::string &name) {
    for (const std::string &text : lines)
        if (opens_c_function(text) && text.find(" " + name + "(") != std::string::npos &&
            !ends_with(text, nogil_end))
            return true;
    return false;
}

} // namespace

py::list nogil_headers_needing_interpreter(const std::vector<std::string> &lines,
                                           const py::list &errors) {
    std::set<long> headers;
    for (py::handle error : errors) {
        if (!needs_interpreter(message_of(error)))
            continue;
        if (long header = nogil_header_of(lines, line_of(error)))
            headers.insert(header);
    }
    py::list found;
    for (long header : headers)
        found.append(header);
    return found;
}

std::optional<CallNeedingInterpreter>
call_needing_interpreter(const std::vector<std::string> &lines, const py::list &errors) {
    for (py::handle error : errors) {
        long line = line_of(error);
        if (line < 1 || line > static_cast<long>(lines.size()) ||
            message_of(error) != "calling gil-requiring function not allowed without gil")
            continue;
        std::string name = called_name(lines[static_cast<size_t>(line - 1)], column_of(error));
        if (!name.empty() && defined_with_interpreter(lines, name))
            return CallNeedingInterpreter{name, line};
    }
    return std::nullopt;
}

py::str with_interpreter(const std::string &text, const py::list &header_lines) {
    std::set<long> headers;
    for (py::handle line : header_lines)
        headers.insert(py::cast<long>(line));
    std::string out;
    out.reserve(text.size());
    long number = 1;
    size_t from = 0;
    while (from <= text.size()) {
        size_t stop = text.find('\n', from);
        bool last = stop == std::string::npos;
        std::string line = text.substr(from, last ? std::string::npos : stop - from);
        if (headers.count(number)) {
            size_t at = line.rfind(nogil_end);
            if (at != std::string::npos)
                line.erase(at, std::string(nogil_end).size() - 1); // keeps the colon
        }
        out += line;
        if (last)
            break;
        out += '\n';
        from = stop + 1;
        ++number;
    }
    return py::str(out);
}

} // namespace zel
