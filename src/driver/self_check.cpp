// ZEL.build_test: the command mode's self-check of what a build needs (the interpreter, the
// packages, the C++ compiler with OpenMP), ending with a real compile and run of a script.
#include "driver/child_process.hpp"
#include "driver/driver_classes.hpp"
#include "driver/python_version.hpp"
#include "emit/compiler_switches.hpp"
#include "support/files.hpp"
#include "support/objects.hpp"
#include "support/text.hpp"

#include <string>
#include <utility>

namespace zel {
namespace {

// The self-check's script: a typed loop, and a parallel loop that counts the distinct threads
// it ran on. The loop is long enough that every thread of the team gets iterations of its own.
const char *const check_script = "import zel\n"
                                 "import numpy as np\n"
                                 "\n"
                                 "total: int = 0\n"
                                 "i: int\n"
                                 "for i in range(10):\n"
                                 "    total += i\n"
                                 "ran = np.zeros(1024, 'i8')\n"
                                 "for i in zel.range(1000000):\n"
                                 "    ran[openmp.omp_get_thread_num()] = 1\n"
                                 "print('zel self-check', total, 'on', np.asarray(ran).sum(), "
                                 "'threads')\n";
const char *const check_script_output = "zel self-check 45 on ";

const char *const openmp_check_source = "#include <omp.h>\n"
                                        "#include <cstdio>\n"
                                        "int main() {\n"
                                        "    int threads = 0;\n"
                                        "#pragma omp parallel\n"
                                        "    {\n"
                                        "#pragma omp atomic\n"
                                        "        ++threads;\n"
                                        "    }\n"
                                        "    std::printf(\"%d\\n\", threads);\n"
                                        "    return threads > 0 ? 0 : 1;\n"
                                        "}\n";

std::string exception_text(const py::error_already_set &e) {
    return py::str("{}: {}").format(py::type::of(e.value()).attr("__name__"), py::str(e.value()));
}

// The report of the self-check: one line per check, and a count of the failed ones.
class CheckReport {
  public:
    void line(bool ok, const std::string &label, const std::string &detail) {
        print_line(py::str(std::string(ok ? "[ok] " : "[FAILED] ") + label + ": " + detail));
        if (!ok)
            ++failed_;
    }
    // Runs a check that returns its detail text or (false, text); an Exception from the
    // check fails it with the exception's class and text.
    template <typename Check> void run(const std::string &label, Check &&check) {
        try {
            std::pair<bool, std::string> result = check();
            line(result.first, label, result.second);
        } catch (py::error_already_set &e) {
            if (!e.matches(PyExc_Exception))
                throw;
            line(false, label, exception_text(e));
        }
    }
    int failed() const { return failed_; }

  private:
    int failed_ = 0;
};

std::pair<bool, std::string> check_python(const Globals &g) {
    py::object sys = g["sys"];
    bool recent =
        py::object(sys.attr("version_info")) >= py::make_tuple(min_python_major, min_python_minor);
    std::string version = text_of(py::module_::import("platform").attr("python_version")());
    return {recent, version + (recent ? "" : " (" + min_python_text() + " or later is needed)") +
                        " at " + text_of(sys.attr("executable"))};
}

std::pair<bool, std::string> check_importable(const char *name) {
    py::module_ module = py::module_::import(name);
    return {true, text_of(attr_or(module, "__version__", py::str("(version unknown)")))};
}

// The C++ compiler that setuptools builds with, configured as it configures it.
py::object setuptools_compiler() {
    py::module_::import("setuptools");
    py::object compiler = py::module_::import("distutils.ccompiler").attr("new_compiler")();
    py::module_::import("distutils.sysconfig").attr("customize_compiler")(compiler);
    return compiler;
}

std::pair<bool, std::string> check_compiler(const py::object &path) {
    py::object compiler = setuptools_compiler();
    std::string detail = py::str(compiler.attr("compiler_type"));
    // The command that compiles a C++ source of an extension module.
    py::object command = attr_or(compiler, "compiler_so_cxx");
    if (truthy(command))
        detail += " (" + text_of(command[py::int_(0)]) + ")";
    bool ok = false;
    in_temp_dir([&](const py::str &dir) {
        py::object source = path.attr("join")(dir, "compiler_check.cpp");
        write_text(source, py::str("int main() { return 0; }\n"));
        compiler.attr("compile")(py::make_tuple(source), py::arg("output_dir") = dir);
        ok = true;
    });
    return {ok, detail};
}

// Also gives the number of threads a parallel region runs on here, which the script's parallel
// loop must reach.
std::pair<bool, std::string> check_openmp(const py::object &path, long &threads) {
    py::object compiler = setuptools_compiler();
    bool msvc = is_msvc(compiler);
    std::pair<bool, std::string> result;
    in_temp_dir([&](const py::str &dir) {
        py::object source = path.attr("join")(dir, "openmp_check.cpp");
        write_text(source, py::str(openmp_check_source));
        py::object objects =
            compiler.attr("compile")(py::make_tuple(source), py::arg("output_dir") = dir,
                                     py::arg("extra_preargs") = openmp_compile_switches(msvc));
        compiler.attr("link_executable")(objects, "openmp_check", py::arg("output_dir") = dir,
                                         py::arg("extra_postargs") = openmp_link_switches(msvc),
                                         py::arg("target_lang") = "c++");
        py::object program =
            path.attr("join")(dir, compiler.attr("executable_filename")("openmp_check"));
        py::list command;
        command.append(program);
        py::object done = run_process(command, dir);
        bool ok = py::int_(0).equal(done.attr("returncode"));
        if (ok)
            threads = py::int_(last_line(done.attr("stdout"))).cast<long>();
        result = {ok, ok ? std::to_string(threads) + " threads in a parallel region"
                         : "the OpenMP program ended with status " +
                               std::string(py::str(done.attr("returncode")))};
    });
    return result;
}

// Builds and runs a tiny script through `python script.py` in a fresh directory, with this
// very installation of the package on the module search path.
std::pair<bool, std::string> check_compile_and_run(const Globals &g, long threads) {
    py::object os = g["os"];
    py::object path = os.attr("path");
    py::object package_parent = path.attr("dirname")(path.attr("dirname")(g["__file__"]));
    py::dict env = py::dict(os.attr("environ"));
    py::object old_path = env.attr("get")("PYTHONPATH");
    env["PYTHONPATH"] =
        old_path.is_none()
            ? package_parent
            : py::object(py::str(os.attr("pathsep"))
                             .attr("join")(py::make_tuple(package_parent, old_path)));
    std::pair<bool, std::string> result;
    in_temp_dir([&](const py::str &dir) {
        write_text(path.attr("join")(dir, "zel_check.py"), py::str(check_script));
        py::list command;
        command.append(g["sys"].attr("executable"));
        command.append("zel_check.py");
        py::object done = run_process(command, dir, env);
        std::string output = py::str(last_line(done.attr("stdout")));
        bool ok = py::int_(0).equal(done.attr("returncode")) &&
                  starts_with(output, check_script_output) && ends_with(output, " threads");
        if (ok) {
            std::string printed = "a script printed \"" + output + "\"";
            std::string count = output.substr(std::string(check_script_output).size());
            bool all_threads = std::stol(count) >= threads;
            result = {all_threads, all_threads ? printed
                                               : printed + ", but a parallel region runs on " +
                                                     std::to_string(threads) + " threads"};
            return;
        }
        py::str error = last_line(done.attr("stderr"));
        result = {false, "status " + std::string(py::str(done.attr("returncode"))) +
                             ", last line \"" + (truthy(error) ? std::string(error) : output) +
                             "\""};
    });
    return result;
}

void build_test(const Globals &g, const py::object &) {
    py::object path = g["os"].attr("path");
    CheckReport report;
    report.run("Python", [&] { return check_python(g); });
    for (const char *name : {"Cython", "numpy", "setuptools"})
        report.run(name, [&] { return check_importable(name); });
    report.run("C++ compiler", [&] { return check_compiler(path); });
    long threads = 0;
    report.run("OpenMP", [&] { return check_openmp(path, threads); });
    if (report.failed() == 0)
        report.run("compile and run", [&] { return check_compile_and_run(g, threads); });
    else
        print_line("[skipped] compile and run: an earlier check failed");
    if (report.failed() == 0) {
        print_line("all checks passed");
        return;
    }
    print_line(py::str(std::to_string(report.failed()) + " check(s) failed"));
    g["sys"].attr("exit")(1);
}

} // namespace

void add_self_check(ClassBuilder &zel) {
    zel.classmethod("build_test", build_test, py::arg("cls"));
}

} // namespace zel
