// ZELSetupTools: builds the generated C++ file into an extension module in the current
// directory with setuptools, while the standard streams are silenced (stream_silencer.cpp).
#include "emit/compiler_switches.hpp"
#include "emit/emit_classes.hpp"
#include "support/files.hpp"
#include "support/lazy_attribute.hpp"
#include "support/objects.hpp"
#include "support/with_context.hpp"

#include <cstddef>
#include <string>

namespace zel {
namespace {

using namespace pybind11::literals;

py::object setuptools_build_ext() {
    return py::module_::import("setuptools.command.build_ext").attr("build_ext");
}

// setuptools' build_ext, building with the switches of the compiler it found.
void build_extension(const py::object &self, const py::object &ext) {
    CompilerKind kind = compiler_kind(self.attr("compiler"));
    ext.attr("extra_compile_args") = module_compile_switches(kind);
    ext.attr("extra_link_args") = module_link_switches(kind);
    setuptools_build_ext().attr("build_extension")(self, ext);
}

py::object build_ext_command(const Globals &g) {
    ClassBuilder command(g, "build_ext", py::make_tuple(setuptools_build_ext()), "ZELSetupTools");
    command.method("build_extension", build_extension, py::arg("self"), py::arg("ext"));
    return command.build();
}

// setup() points the root logger at the streams it finds, the silenced ones, which are
// closed once the build is over; the script that runs next gets the logger as it was.
class RootLoggerState {
  public:
    RootLoggerState()
        : root_(py::module_::import("logging").attr("root")),
          handlers_(root_.attr("handlers").attr("copy")()), level_(root_.attr("level")) {}
    void restore() const {
        root_.attr("handlers") = handlers_;
        root_.attr("setLevel")(level_);
    }

  private:
    py::object root_;
    py::object handlers_;
    py::object level_;
};

// The last lines that the compiler and setuptools wrote during a failed build, on standard
// error: the reason the build failed, in the compiler's own words.
void show_build_output(const Globals &g, const py::object &output_path) {
    const std::size_t shown_lines = 30;
    // Nothing was captured when the streams were left alone.
    if (!truthy(g["os"].attr("path").attr("exists")(output_path)))
        return;
    py::list lines = read_text(output_path, "replace").attr("splitlines")();
    std::size_t first = lines.size() > shown_lines ? lines.size() - shown_lines : 0;
    // Whatever was printed before comes first where both streams end up in one place.
    g["sys"].attr("stdout").attr("flush")();
    py::object err = g["sys"].attr("stderr");
    for (std::size_t i = first; i < lines.size(); ++i)
        err.attr("write")(py::str(lines[i]) + py::str("\n"));
    err.attr("flush")();
}

void build_module_from_cpp(const Globals &g, const py::object &cls, const py::object &src,
                           const py::object &base_name) {
    py::object numpy = py::module_::import("numpy");
    py::list sources;
    sources.append(src);
    py::list include_dirs;
    include_dirs.append(numpy.attr("get_include")());
    py::object extension =
        cls.attr("Extension")("name"_a = base_name, "sources"_a = sources, "language"_a = "c++",
                              "include_dirs"_a = include_dirs);

    // Object files and the module stay beside the C++ file, in its temporary directory: the
    // driver moves the module into the current directory whole, with its record, so that no
    // cut build (a full disk, an interrupt) is ever left under its final name there.
    py::object path = g["os"].attr("path");
    py::object work_dir = path.attr("dirname")(path.attr("abspath")(src));
    py::list script_args = str_list({"build_ext", "--build-temp"});
    script_args.append(work_dir);
    script_args.append("--build-lib");
    script_args.append(work_dir);
    py::list ext_modules;
    ext_modules.append(extension);
    py::dict commands;
    commands["build_ext"] = build_ext_command(g);

    py::object output_path = path.attr("join")(work_dir, "build_output.txt");
    RootLoggerState logger;
    try {
        with_context(cls.attr("__hout__")(output_path), [&] {
            cls.attr("setup")("script_args"_a = script_args, "name"_a = base_name,
                              "version"_a = "1.0",
                              "description"_a = py::str("module ") + py::str(base_name),
                              "ext_modules"_a = ext_modules, "cmdclass"_a = commands);
        });
    } catch (py::error_already_set &e) {
        logger.restore();
        // setup() reports a failed build by SystemExit; the compile step reports it as
        // the error of the build it is.
        if (e.matches(PyExc_SystemExit)) {
            std::string message = py::str(e.value());
            // An interrupt comes out of setup() as SystemExit("interrupted"); it stays one.
            if (message == "interrupted") {
                PyErr_SetNone(PyExc_KeyboardInterrupt);
                throw py::error_already_set();
            }
            show_build_output(g, output_path);
            py::raise_from(e, PyExc_RuntimeError, message.c_str());
            throw py::error_already_set();
        }
        if (e.matches(PyExc_Exception))
            show_build_output(g, output_path);
        throw;
    }
    logger.restore();
}

} // namespace

// setuptools loads on first use, which a run that reuses its build never makes; a missing
// setuptools still fails the import at once.
py::object make_zel_setuptools(const Globals &g) {
    LazyAttributes lazy(g, "setuptools");
    ClassBuilder setuptools(g, "ZELSetupTools");
    setuptools.attr("Extension", lazy.import_from("setuptools", "Extension"));
    setuptools.attr("setup", lazy.import_from("setuptools", "setup"));
    setuptools.attr("__hout__", make_stream_silencer(setuptools));
    setuptools.classmethod("build_module_from_cpp", build_module_from_cpp, py::arg("cls"),
                           py::arg("src"), py::arg("base_name"));
    return setuptools.build();
}

} // namespace zel
