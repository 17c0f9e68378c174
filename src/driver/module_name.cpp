#include "driver/built_modules.hpp"
#include "support/objects.hpp"

#include <string>

namespace zel {
namespace {

bool is_module_name(const py::str &name) {
    return truthy(name.attr("isascii")()) && truthy(name.attr("isidentifier")()) &&
           !truthy(py::module_::import("keyword").attr("iskeyword")(name));
}

} // namespace

py::str module_name_for(const py::str &stem) {
    if (is_module_name(stem))
        return stem;
    // Every character but ASCII letters, digits and "_" becomes "_"; the name starts with no
    // digit and is no keyword.
    std::string name;
    for (char c : std::string(stem)) {
        bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        name += kept ? c : '_';
    }
    if (name.empty() || (name[0] >= '0' && name[0] <= '9'))
        name = "_" + name;
    if (!is_module_name(py::str(name)))
        name += "_";
    return py::str(name);
}

} // namespace zel
