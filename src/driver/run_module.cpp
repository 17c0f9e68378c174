// ZEL.run: loads the built module from the current directory as `__main__`, runs it in the
// script's place and ends the process as the interpreter would have ended the script.
#include "driver/built_modules.hpp"
#include "driver/cuda_path.hpp"
#include "driver/driver_classes.hpp"
#include "restructure/generated_names.hpp"
#include "support/objects.hpp"
#include "support/text.hpp"

#include <algorithm>
#include <string>

namespace zel {
namespace {

const char *const child_main_name = "zel.__mp_main__";

void print_debug_lines(const Globals &g, const py::object &cls) {
    py::object script = cls.attr("main_module").attr("__file__");
    py::str quoted("\"{}{}\"");
    print_line(py::str("# PYX: ") + quoted.format(script, ".pyx"));
    print_line(py::str("# CPP: ") + quoted.format(script, ".cpp"));
    print_line(py::str("# ORG AST: ") + quoted.format(script, ".0.ast"));
    print_line(py::str("# OUT AST: ") + quoted.format(script, ".1.ast"));
    if (truthy(cls.attr("rebuild")))
        print_line(
            py::str("# LOG: \"{}\":{}").format(g["Etc"].attr("log_file"), cls.attr("log_line")));
}

// The spec of the build that the compile step checked against its record (a link of this
// process's own, in the current directory), or None when there is none. The module search path
// is not asked: it starts with the script's own directory and may hold the script's source or
// a library of the same name.
py::object checked_build(const py::object &cls, const py::str &stem) {
    py::object file = attr_or(cls, "build_file");
    if (file.is_none())
        return py::none();
    py::str name = module_name_for(stem);
    py::object loader = py::module_::import("importlib.machinery").attr("ExtensionFileLoader");
    return py::module_::import("importlib.util")
        .attr("spec_from_file_location")(name, file, py::arg("loader") = loader(name, file));
}

// Puts `CUDA_PATH`/bin on the DLL search path, where the platform has one. The handle is
// returned so that the caller keeps the directory on the path.
py::object add_cuda_dll_directory(const py::object &os) {
    py::object directory = cuda_dll_directory(os);
    if (directory.is_none())
        return py::none();
    return os.attr("add_dll_directory")(directory);
}

// Cython names the lambdas of a module "lambda", "lambda1", "lambda2" and so on.
bool is_lambda_name(const std::string &name) {
    const std::string word = "lambda";
    return starts_with(name, word) && std::all_of(name.begin() + word.size(), name.end(),
                                                  [](char c) { return c >= '0' && c <= '9'; });
}

// The function name the interpreter would give for a traceback entry. Cython names the
// entries of a built module after the module: "init <module>" for its top level,
// "<module>.<qualified name>" for functions and lambdas, "genexpr" for generator expressions.
py::object function_name(const py::object &entry, const py::str &stem) {
    py::str name = entry.attr("name");
    py::str module = module_name_for(stem);
    if (name.equal(py::str("init ") + module))
        return py::str("<module>");
    if (truthy(name.attr("startswith")(module + py::str(".")))) {
        py::str last = name.attr("rpartition")(".")[py::int_(2)];
        if (is_lambda_name(last))
            return py::str("<lambda>");
        // Module-level statements run in functions the emitter made for them.
        std::string function = last;
        if (starts_with(function, body_function_prefix) ||
            starts_with(function, loop_function_prefix))
            return py::str("<module>");
        return last;
    }
    if (name.equal(py::str("genexpr")) &&
        py::str(entry.attr("filename")).equal(stem + py::str(".py")))
        return py::str("<genexpr>");
    return std::move(name);
}

// The source text of a traceback entry. The built module's entries name the script by its
// stem alone, which the interpreter resolves against the current directory or not at all
// (it asks the extension's loader, which has no source); their lines are the script's.
py::object source_line(const py::object &entry, const py::str &stem, const py::object &script) {
    py::object file_name = entry.attr("filename");
    if (!file_name.equal(stem + py::str(".py")))
        return entry.attr("line");
    py::object linecache = py::module_::import("linecache");
    return linecache.attr("getline")(script, entry.attr("lineno")).attr("strip")();
}

// The deepest traceback entry of the script's exception, its source line, then the exception.
void report(const Globals &g, const py::object &cls, const py::object &exc) {
    py::str stem = cls.attr("stem");
    py::object script = cls.attr("main_module").attr("__file__");
    py::list entries = g["traceback"].attr("extract_tb")(exc.attr("__traceback__"));
    py::object entry = entries[py::len(entries) - 1];
    print_line(py::str("File \"{}\",  line {}, in {}\n{}")
                   .format(entry.attr("filename"), entry.attr("lineno"), function_name(entry, stem),
                           source_line(entry, stem, script)));
    print_line(exc);
}

// The module of the build, loaded (the module needs its file no more then) and named `name`.
// As the interpreter ends on an interrupt: its line on standard error, status 130.
int interrupted(const Globals &g) {
    py::print("KeyboardInterrupt", py::arg("file") = g["sys"].attr("stderr"));
    return 130;
}

py::object load_build(const py::object &cls, const py::object &spec, const char *name) {
    py::object module;
    try {
        module = py::module_::import("importlib.util").attr("module_from_spec")(spec);
    } catch (...) {
        remove_loaded_link(spec.attr("origin"));
        throw;
    }
    remove_loaded_link(spec.attr("origin"));
    module.attr("__name__") = name;
    // The script reads its own place, as under the interpreter; the build stays where it is.
    module.attr("__file__") = cls.attr("main_module").attr("__file__");
    return module;
}

// ZEL.run_in_child: in a child process of multiprocessing that prepares its main module, the
// script's build runs as `__mp_main__` (so its main block does not run again), and is kept as
// `ZEL.child_main` for zel/__mp_main__.py. Its exceptions end the child, as the script's own
// would under the interpreter.
void run_in_child(const py::object &cls) {
    py::object spec = checked_build(cls, cls.attr("stem"));
    if (spec.is_none()) {
        print_line(cls.attr("name"), "[Fatal.1421] module not found:", cls.attr("stem"));
        py::module_::import("sys").attr("exit")(9);
    }
    py::object module = load_build(cls, spec, "__mp_main__");
    spec.attr("loader").attr("exec_module")(module);
    cls.attr("child_main") = module;
}

void run(const Globals &g, const py::object &cls) {
    if (truthy(cls.attr("debug")))
        print_debug_lines(g, cls);
    print_line("# RUN");

    py::str stem = cls.attr("stem");
    py::object spec = checked_build(cls, stem);
    if (spec.is_none()) {
        print_line(cls.attr("name"), "[Fatal.1421] module not found:", stem);
        g["sys"].attr("exit")(9);
    }
    py::object dll_directory = add_cuda_dll_directory(g["os"]);

    py::object module = load_build(cls, spec, "__main__");
    // A child process that multiprocessing starts by spawning (or from its fork server) imports
    // the main module again by this name, as `__mp_main__`: zel/__mp_main__.py, which runs this
    // build there in place of the script.
    module.attr("__spec__") =
        py::module_::import("importlib.machinery").attr("ModuleSpec")(child_main_name, py::none());
    g["sys"].attr("modules")["__main__"] = module;

    int status = 0;
    try {
        spec.attr("loader").attr("exec_module")(module);
    } catch (py::error_already_set &e) {
        // The script's own exit passes on, so its status and message reach the interpreter.
        if (e.matches(PyExc_SystemExit))
            throw;
        status = e.matches(PyExc_KeyboardInterrupt) ? interrupted(g) : 1;
        if (status == 1) {
            try {
                report(g, cls, caught_exception(e));
            } catch (py::error_already_set &failed) {
                // A report that fails (an exception whose text cannot be made, say) prints
                // nothing more and leaves the failure status alone; an interrupt while it
                // prints ends the run as any interrupt does.
                if (failed.matches(PyExc_KeyboardInterrupt))
                    status = interrupted(g);
                else if (!failed.matches(PyExc_Exception))
                    throw;
            }
        }
    }
    g["sys"].attr("exit")(status);
}

// The exception with a traceback of its deepest entry alone.
py::object keep_deepest_frame(const py::object &exc) {
    py::object tb = exc.attr("__traceback__");
    if (tb.is_none())
        return exc;
    while (!tb.attr("tb_next").is_none())
        tb = tb.attr("tb_next");
    py::object single = py::module_::import("types").attr("TracebackType")(
        py::none(), tb.attr("tb_frame"), tb.attr("tb_lasti"), tb.attr("tb_lineno"));
    return exc.attr("with_traceback")(single);
}

} // namespace

void add_run(ClassBuilder &zel) {
    zel.staticmethod("keep_deepest_frame", keep_deepest_frame, py::arg("exc"));
    zel.classmethod("run", run, py::arg("cls"));
    zel.classmethod("run_in_child", run_in_child, py::arg("cls"));
}

} // namespace zel
