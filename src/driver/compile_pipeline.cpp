// ZEL.compile: from the script's text to a built module in the current directory, when the
// existing build is missing or stale. Every Exception on the way ends the process with one
// internal-error line and status -1.
#include "driver/built_modules.hpp"
#include "driver/driver_classes.hpp"
#include "driver/script_source.hpp"
#include "emit/cpp_line_rewrites.hpp"
#include "support/deep_stack.hpp"
#include "support/files.hpp"
#include "support/objects.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// A debug dump beside the script: the script path followed by `suffix`.
void dump(const py::object &script, const char *suffix, const py::object &text) {
    write_text(script + py::str(suffix), text);
}

py::object ast_dump(const Globals &g, const py::object &tree) {
    return g["ast"].attr("dump")(tree, py::arg("indent") = 4);
}

// A leading constant statement (a docstring, a bare number, `...`) is written as `pass`.
void neutralise_leading_constant(const py::object &tree) {
    py::list body = tree.attr("body");
    if (body.empty())
        return;
    py::object first = body[0];
    if (is_a(first, "Expr") && is_a(first.attr("value"), "Constant"))
        set_class(first, "Pass");
}

// Writes the C++ text into a fresh temporary directory, builds it there and moves the module
// into place with its record of the script bytes `source`; the directory goes away however the
// build ends. The record names the bytes that were compiled, even if the script changed
// meanwhile.
void build_in_temporary_directory(const Globals &g, const py::object &cls,
                                  const py::object &cpp_text, const py::bytes &source) {
    in_temp_dir([&](const py::str &directory) {
        py::str stem = cls.attr("stem");
        py::str module_name = module_name_for(stem);
        py::object path = g["os"].attr("path");
        py::object cpp_path = path.attr("join")(directory, module_name + py::str(".cpp"));
        write_text(cpp_path, cpp_text);
        g["ZELSetupTools"].attr("build_module_from_cpp")(cpp_path, module_name);
        py::object suffix = py::module_::import("sysconfig").attr("get_config_var")("EXT_SUFFIX");
        py::object built = path.attr("join")(directory, module_name + suffix);
        cls.attr("build_file") = install_build(cls, built, stem + suffix, source);
    });
}

// The C++ text of the .pyx text. A C function whose body the compiler finds to need the
// interpreter is written with it and the text translated again, until no more do: a function
// that calls one of them may need it in its turn.
py::object translate(const Globals &g, const py::object &cls, const py::object &script,
                     py::object pyx_text, const py::str &module_name, const py::object &line_map) {
    py::object zel_cython = g["ZELCython"];
    py::object interpreter_needed = zel_cython.attr("InterpreterNeeded");
    for (;;) {
        if (truthy(cls.attr("debug")))
            dump(script, ".pyx", pyx_text);
        try {
            return zel_cython.attr("convert")(pyx_text, module_name, line_map);
        } catch (py::error_already_set &e) {
            if (!e.matches(interpreter_needed))
                throw;
            py::object headers = e.value().attr("args")[py::int_(0)];
            pyx_text = zel_cython.attr("with_interpreter")(pyx_text, headers);
        }
    }
}

void compile_steps(const Globals &g, const py::object &cls) {
    py::object script = cls.attr("main_module").attr("__file__");
    py::tuple names(cls.attr("prepare_path")(script));
    if (names.size() > 3)
        raise_error(PyExc_ValueError, "too many values to unpack (expected 3)");
    if (names.size() < 3)
        raise_error(
            PyExc_ValueError,
            py::str("not enough values to unpack (expected 3, got {})").format(names.size()));
    cls.attr("base_name") = names[0];
    cls.attr("stem") = names[1];
    cls.attr("rebuild") = names[2];
    if (!truthy(cls.attr("rebuild")))
        return;

    py::bytes source = read_script(script);
    py::object tree = g["ast"].attr("parse")(decode_script(source));
    bool debug = truthy(cls.attr("debug"));
    if (debug) {
        cls.attr("log_line") = g["Etc"].attr("log_lines")();
        dump(script, ".0.ast", ast_dump(g, tree));
        print_line(py::str("# COMPILE: \"{}\"").format(script));
    } else {
        print_line("# COMPILE..");
    }
    neutralise_leading_constant(tree);

    py::object zel_ast = g["ZELAst"];
    zel_ast.attr("restruct")(tree);
    if (debug)
        dump(script, ".1.ast", ast_dump(g, tree));

    py::tuple unparsed = cls.attr("unparse")(tree, zel_ast.attr("openmp"));
    py::object pyx_text = unparsed[0];
    py::object line_map = unparsed[1];

    py::str stem = cls.attr("stem");
    py::str module_name = module_name_for(stem);
    py::object cpp_text = translate(g, cls, script, pyx_text, module_name, line_map);
    // Tracebacks name the script's file, whatever the module inside is called.
    if (!module_name.equal(stem))
        cpp_text = name_script_file(cpp_text, module_name, stem);
    if (debug)
        dump(script, ".cpp", cpp_text);

    build_in_temporary_directory(g, cls, cpp_text, source);
}

void compile(const Globals &g, const py::object &cls) {
    try {
        run_with_deep_stack([&] { compile_steps(g, cls); });
    } catch (py::error_already_set &e) {
        // An interrupt ends the process as it ends the interpreter's: its line, status 130.
        if (e.matches(PyExc_KeyboardInterrupt)) {
            py::print("KeyboardInterrupt", py::arg("file") = g["sys"].attr("stderr"));
            g["sys"].attr("exit")(130);
        }
        // SystemExit passes on unchanged.
        if (!e.matches(PyExc_Exception))
            throw;
        py::object error = caught_exception(e);
        if (e.matches(PyExc_OSError) &&
            error.attr("errno").equal(py::module_::import("errno").attr("ENOSPC"))) {
            print_line(py::str("{}: the disk is full, the build was not written: {}")
                           .format(cls.attr("name"), error));
            g["sys"].attr("exit")(-1);
        }
        print_line(cls.attr("fatal_msg")(caught_exception(e)));
        g["sys"].attr("exit")(-1);
    }
}

} // namespace

void add_compile(ClassBuilder &zel) {
    zel.classmethod("compile", compile, py::arg("cls"));
}

} // namespace zel
