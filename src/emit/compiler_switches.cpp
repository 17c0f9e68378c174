#include "emit/compiler_switches.hpp"
#include "support/objects.hpp"

#include <string>

namespace zel {
namespace {

py::list joined(py::list first, const py::list &second) {
    for (py::handle item : second)
        first.append(item);
    return first;
}

// Clang takes GCC's command line but not its names of the vectoriser's switches. setuptools
// calls both kinds "unix": the compiler's program name tells them apart.
bool is_clang(const py::object &compiler) {
    py::object command = attr_or(compiler, "compiler_so");
    if (command.is_none())
        return false;
    for (py::handle word : command) {
        std::string program = py::str(word);
        if (program.find("clang") != std::string::npos)
            return true;
        if (program.find("ccache") == std::string::npos)
            return false;
    }
    return false;
}

} // namespace

CompilerKind compiler_kind(const py::object &compiler) {
    if (py::str("msvc").equal(compiler.attr("compiler_type")))
        return CompilerKind::msvc;
    return is_clang(compiler) ? CompilerKind::clang : CompilerKind::gcc;
}

bool is_msvc(const py::object &compiler) {
    return compiler_kind(compiler) == CompilerKind::msvc;
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
// faster than the script. Of -O3's loop passes -O2 lacks, unswitching (which takes the test
// whether a module-level array is bound out of the script's loops) and loop vectorisation with
// the cost model that weighs each loop count; Clang vectorises at -O2. GCC would inline each
// function that the module body is written into back into the module-init function, which
// calls it once, and there, in one function of the script's size, lose the loop optimisations
// that make it worth writing. The build is for this
// processor (the build's record names it), and without floating contraction: a fused
// multiply-add rounds once where the interpreter rounds twice. C integers wrap around on
// overflow (-fwrapv) whatever switches the interpreter itself was built with.
py::list module_compile_switches(CompilerKind kind) {
    if (kind == CompilerKind::msvc)
        return joined(str_list({"/nologo", "/O2"}), openmp_compile_switches(true));
    py::list optimisation =
        kind == CompilerKind::gcc
            ? str_list({"-O2", "-funswitch-loops", "-ftree-loop-vectorize",
                        "-fvect-cost-model=dynamic", "-fno-inline-functions-called-once"})
            : str_list({"-O2"});
    return joined(
        joined(joined(optimisation, str_list({"-march=native", "-ffp-contract=off", "-fwrapv"})),
               openmp_compile_switches(false)),
        str_list({"-w", "-g0", "-DCYTHON_SMALL_CODE="}));
}

py::list module_link_switches(CompilerKind kind) {
    if (kind == CompilerKind::msvc)
        return str_list({"/nologo", "/NOEXP", "/NOIMPLIB"});
    return openmp_link_switches(false);
}

} // namespace zel
