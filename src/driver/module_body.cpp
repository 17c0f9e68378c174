#include "driver/module_body.hpp"

#include "driver/driver_classes.hpp"
#include "driver/script_directory.hpp"
#include "emit/emit_classes.hpp"
#include "restructure/restructure_classes.hpp"
#include "support/objects.hpp"
#include "support/pyast.hpp"

#include <pybind11/pybind11.h>

namespace zel {
namespace {

void import_module_globals(Globals &g) {
    g["sys"] = py::module_::import("sys");
    g["os"] = py::module_::import("os");
    g["io"] = py::module_::import("io");
    g["traceback"] = py::module_::import("traceback");
    g["ast"] = py::module_::import("ast");
    g["datetime"] = import_from("datetime", "datetime");
    g["List"] = import_from("typing", "List");
    g["Dict"] = import_from("typing", "Dict");
    g["deque"] = import_from("collections", "deque");
    g["defaultdict"] = import_from("collections", "defaultdict");
    g["_gf"] = g["sys"].attr("_getframe");
}

void create_classes(Globals &g) {
    g["Etc"] = make_etc(g);
    g["ZELSetupTools"] = make_zel_setuptools(g);
    g["ZELCython"] = make_zel_cython(g);
    g["ZELConst"] = make_zel_const(g);
    g["ZELProjection"] = make_zel_projection(g);
    g["ZELAst"] = make_zel_ast(g);
    g["ZELUnparser"] = make_zel_unparser(g);
    g["ZEL"] = make_zel(g);
}

// Whether multiprocessing is preparing this process, a child it started, to run a task: the
// child then imports its parent's main module, whose spec names zel/__mp_main__.py for a script.
bool preparing_child_process(const Globals &g) {
    py::object process = g["sys"].attr("modules").attr("get")("multiprocessing.process");
    return !process.is_none() &&
           truthy(attr_or(process.attr("current_process")(), "_inheriting", py::bool_(false)));
}

// In such a child the script is the one its parent ran, started from the same directory
// (multiprocessing hands the child the parent's arguments and current directory). Its build
// runs as `__mp_main__`, and the import returns: the child goes on to run its task.
void run_in_child(Globals &g, ScriptDirectoryOffPath &script_directory) {
    py::object zel_class = g["ZEL"];
    py::object script = py::module_::import("types").attr("ModuleType")("__mp_main__");
    script.attr("__file__") = g["sys"].attr("argv")[py::int_(0)];
    zel_class.attr("main_module") = script;
    zel_class.attr("compile")();
    script_directory.restore();
    zel_class.attr("run_in_child")();
}

// Compile and run the importing script, or answer a command when there is no script. The
// build runs with the script's directory back on the module search path.
void dispatch(Globals &g, py::handle quit, ScriptDirectoryOffPath &script_directory) {
    py::object zel_class = g["ZEL"];
    bool has_file = has_attr(zel_class.attr("main_module"), "__file__");
    if (!has_file && preparing_child_process(g)) {
        run_in_child(g, script_directory);
        return;
    }
    if (!has_file || py::str(g["__name__"]).equal(py::str("__main__"))) {
        py::object argv = g["sys"].attr("argv");
        PyObject *rest = PySequence_GetSlice(argv.ptr(), 1, PY_SSIZE_T_MAX);
        if (!rest)
            throw py::error_already_set();
        zel_class.attr("module_command")(py::reinterpret_steal<py::list>(rest));
    } else {
        zel_class.attr("compile")();
        script_directory.restore();
        zel_class.attr("run")();
    }
    quit(0);
}

} // namespace

int run_module_body(PyObject *module, PyObject *quit) {
    try {
        py::object quit_builtin = py::reinterpret_borrow<py::object>(quit);
        Globals g = py::reinterpret_borrow<Globals>(PyModule_GetDict(module));
        ScriptDirectoryOffPath script_directory;
        load_ast_classes();
        import_module_globals(g);
        create_classes(g);
        dispatch(g, quit_builtin, script_directory);
        return 0;
    } catch (py::error_already_set &e) {
        e.restore();
    } catch (const py::builtin_exception &e) {
        e.set_error();
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    }
    return -1;
}

} // namespace zel
