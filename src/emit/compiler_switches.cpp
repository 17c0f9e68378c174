#include "emit/compiler_switches.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

py::list joined(py::list first, const py::list &second) {
    for (py::handle item : second)
        first.append(item);
    return first;
}

} // namespace

bool is_msvc(const py::object &compiler) {
    return py::str("msvc").equal(compiler.attr("compiler_type"));
}

py::list openmp_compile_switches(bool msvc) {
    return str_list({msvc ? "/openmp" : "-fopenmp"});
}

py::list openmp_link_switches(bool msvc) {
    return msvc ? py::list() : str_list({"-fopenmp"});
}

// With GCC and Clang they come after the interpreter's own switches, so they win: no debug
// information (tracking it through Cython's very large module-init function costs more time
// and memory than the rest of the build), no warnings from generated code, and no `cold`
// attribute on the module-init function, which would compile the script's top-level loops
// for size instead of speed. -O2, not -O3: on that one large function -O3's compile time grows
// faster than the script. Of -O3's loop passes -O2 lacks, unswitching is the one that counts:
// it takes the test whether a module-level array is bound out of the script's loops.
py::list module_compile_switches(bool msvc) {
    if (msvc)
        return joined(str_list({"/nologo", "/O2"}), openmp_compile_switches(true));
    return joined(joined(str_list({"-O2", "-funswitch-loops"}), openmp_compile_switches(false)),
                  str_list({"-w", "-g0", "-DCYTHON_SMALL_CODE="}));
}

py::list module_link_switches(bool msvc) {
    if (msvc)
        return str_list({"/nologo", "/NOEXP", "/NOIMPLIB"});
    return openmp_link_switches(false);
}

} // namespace zel
