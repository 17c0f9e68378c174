// The compiler converts a Python value to a C integer in one function per integer type: an int
// directly, anything else through `__Pyx_PyNumber_Long` (3.1 and later) or
// `__Pyx_PyNumber_IntOrLong` (3.0), which call the value's `__int__`. Only that call inside
// such a function is replaced; the same helpers serve `'%d' % x`, where `__int__` is Python's.
#include "emit/integer_conversion.hpp"

#include "support/text.hpp"

namespace zel {

void convert_integers_by_index(std::string &line, bool &in_conversion) {
    if (starts_with(line, "static ") && ends_with(line, "(PyObject *x) {")) {
        in_conversion = line.find(" __Pyx_NonPyLong_") != std::string::npos ||
                        line.find(" __Pyx_PyInt_As_") != std::string::npos;
        return;
    }
    if (!in_conversion)
        return;
    for (const std::string by_int : {"__Pyx_PyNumber_Long(x);", "__Pyx_PyNumber_IntOrLong(x);"})
        if (ends_with(line, "PyObject *tmp = " + by_int)) {
            line.replace(line.size() - by_int.size(), by_int.size(), "PyNumber_Index(x);");
            in_conversion = false;
            return;
        }
}

} // namespace zel
