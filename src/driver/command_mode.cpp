// ZEL.module_command: what an import does when there is no script to compile, and the
// three test actions it offers (a self-check of what a build needs, and two CUDA reports).
#include "driver/driver_classes.hpp"
#include "support/files.hpp"
#include "support/pyast.hpp"

#include <string>
#include <utility>

namespace zel {
namespace {

// The self-check's script: parallel-free, so it needs only the compile road itself.
const char *const check_script = "import zel\n"
                                 "\n"
                                 "total = 0\n"
                                 "for i in range(10):\n"
                                 "    total += i\n"
                                 "print('zel self-check', total)\n";
const char *const check_script_output = "zel self-check 45";

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

// Squares four numbers on the device; says so plainly when there is no usable GPU.
const char *const cuda_check_source =
    "#include <cstdio>\n"
    "#include <cuda_runtime.h>\n"
    "__global__ void square(int *v) { v[threadIdx.x] *= v[threadIdx.x]; }\n"
    "int main() {\n"
    "    int count = 0;\n"
    "    cudaError_t err = cudaGetDeviceCount(&count);\n"
    "    if (err != cudaSuccess || count == 0) {\n"
    "        std::printf(\"no GPU: %s\\n\", err != cudaSuccess ? cudaGetErrorString(err)\n"
    "                                                      : \"no CUDA device\");\n"
    "        return 3;\n"
    "    }\n"
    "    int host[4] = {1, 2, 3, 4};\n"
    "    int *dev = nullptr;\n"
    "    cudaMalloc(&dev, sizeof host);\n"
    "    cudaMemcpy(dev, host, sizeof host, cudaMemcpyHostToDevice);\n"
    "    square<<<1, 4>>>(dev);\n"
    "    cudaMemcpy(host, dev, sizeof host, cudaMemcpyDeviceToHost);\n"
    "    cudaFree(dev);\n"
    "    err = cudaGetLastError();\n"
    "    if (err != cudaSuccess) {\n"
    "        std::printf(\"%s\\n\", cudaGetErrorString(err));\n"
    "        return 1;\n"
    "    }\n"
    "    std::printf(\"%d %d %d %d\\n\", host[0], host[1], host[2], host[3]);\n"
    "    return host[3] == 16 ? 0 : 1;\n"
    "}\n";
const int cuda_no_gpu_status = 3;

py::object os_path() {
    return py::module_::import("os").attr("path");
}

// subprocess.run(command, capture_output=True, text=True, ...): the completed process.
py::object run_process(const py::list &command, const py::object &cwd,
                       const py::object &env = py::none()) {
    return py::module_::import("subprocess")
        .attr("run")(command, py::arg("cwd") = cwd, py::arg("env") = env,
                     py::arg("capture_output") = true, py::arg("text") = true,
                     py::arg("timeout") = 600);
}

// The last non-empty line of a text, or "".
py::str last_line(const py::object &text) {
    py::list lines = text.attr("strip")().attr("splitlines")();
    return lines.empty() ? py::str("") : py::str(lines[lines.size() - 1]);
}

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
    bool recent = py::object(sys.attr("version_info")) >= py::make_tuple(3, 11);
    std::string version =
        py::module_::import("platform").attr("python_version")().cast<std::string>();
    return {recent, version + (recent ? "" : " (3.11 or later is needed)") + " at " +
                        sys.attr("executable").cast<std::string>()};
}

std::pair<bool, std::string> check_importable(const char *name) {
    py::module_ module = py::module_::import(name);
    return {
        true,
        py::str(attr_or(module, "__version__", py::str("(version unknown)"))).cast<std::string>()};
}

// The C++ compiler that setuptools builds with, configured as it configures it.
py::object setuptools_compiler() {
    py::module_::import("setuptools");
    py::object compiler = py::module_::import("distutils.ccompiler").attr("new_compiler")();
    py::module_::import("distutils.sysconfig").attr("customize_compiler")(compiler);
    return compiler;
}

bool is_msvc(const py::object &compiler) {
    return py::str("msvc").equal(compiler.attr("compiler_type"));
}

std::pair<bool, std::string> check_compiler() {
    py::object compiler = setuptools_compiler();
    std::string detail = py::str(compiler.attr("compiler_type"));
    // The command that compiles a C++ source of an extension module.
    py::object command = attr_or(compiler, "compiler_so_cxx");
    if (truthy(command))
        detail += " (" + py::str(command[py::int_(0)]).cast<std::string>() + ")";
    bool ok = false;
    in_temp_dir([&](const py::str &dir) {
        py::object source = os_path().attr("join")(dir, "compiler_check.cpp");
        write_text(source, py::str("int main() { return 0; }\n"));
        compiler.attr("compile")(py::make_tuple(source), py::arg("output_dir") = dir);
        ok = true;
    });
    return {ok, detail};
}

std::pair<bool, std::string> check_openmp() {
    py::object compiler = setuptools_compiler();
    bool msvc = is_msvc(compiler);
    py::list compile_args, link_args;
    compile_args.append(msvc ? "/openmp" : "-fopenmp");
    if (!msvc)
        link_args.append("-fopenmp");
    std::pair<bool, std::string> result;
    in_temp_dir([&](const py::str &dir) {
        py::object path = os_path();
        py::object source = path.attr("join")(dir, "openmp_check.cpp");
        write_text(source, py::str(openmp_check_source));
        py::object objects =
            compiler.attr("compile")(py::make_tuple(source), py::arg("output_dir") = dir,
                                     py::arg("extra_preargs") = compile_args);
        compiler.attr("link_executable")(objects, "openmp_check", py::arg("output_dir") = dir,
                                         py::arg("extra_postargs") = link_args,
                                         py::arg("target_lang") = "c++");
        py::object program =
            path.attr("join")(dir, compiler.attr("executable_filename")("openmp_check"));
        py::list command;
        command.append(program);
        py::object done = run_process(command, dir);
        bool ok = py::int_(0).equal(done.attr("returncode"));
        result = {ok,
                  ok ? std::string(last_line(done.attr("stdout"))) + " threads in a parallel region"
                     : "the OpenMP program ended with status " +
                           std::string(py::str(done.attr("returncode")))};
    });
    return result;
}

// Builds and runs a tiny script through `python script.py` in a fresh directory, with this
// very installation of the package on the module search path.
std::pair<bool, std::string> check_compile_and_run(const Globals &g) {
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
        py::str output = last_line(done.attr("stdout"));
        bool ok = py::int_(0).equal(done.attr("returncode")) &&
                  output.equal(py::str(check_script_output));
        if (ok) {
            result = {true, "a script printed \"" + std::string(output) + "\""};
            return;
        }
        py::str error = last_line(done.attr("stderr"));
        result = {false, "status " + std::string(py::str(done.attr("returncode"))) +
                             ", last line \"" + std::string(truthy(error) ? error : output) + "\""};
    });
    return result;
}

void build_test(const Globals &g) {
    CheckReport report;
    report.run("Python", [&] { return check_python(g); });
    for (const char *name : {"Cython", "numpy", "setuptools"})
        report.run(name, [&] { return check_importable(name); });
    report.run("C++ compiler", check_compiler);
    report.run("OpenMP", check_openmp);
    if (report.failed() == 0)
        report.run("compile and run", [&] { return check_compile_and_run(g); });
    else
        print_line("[skipped] compile and run: an earlier check failed");
    if (report.failed() == 0) {
        print_line("all checks passed");
        return;
    }
    print_line(py::str(std::to_string(report.failed()) + " check(s) failed"));
    g["sys"].attr("exit")(1);
}

// The directory the run step would add to the DLL search path, from CUDA_PATH.
struct CudaPath {
    py::object value; // the variable, or None when unset or empty
    py::object bin;   // its bin directory, or None
    bool bin_exists = false;
};

CudaPath read_cuda_path(const Globals &g) {
    CudaPath cuda;
    py::object value = g["os"].attr("environ").attr("get")("CUDA_PATH");
    cuda.value = truthy(value) ? value : py::none();
    cuda.bin = py::none();
    if (!cuda.value.is_none()) {
        cuda.bin = os_path().attr("join")(cuda.value, "bin");
        cuda.bin_exists = truthy(os_path().attr("isdir")(cuda.bin));
    }
    return cuda;
}

// nvcc on PATH, else in CUDA_PATH's bin directory; None when neither has it.
py::object find_nvcc(const CudaPath &cuda) {
    py::object which = py::module_::import("shutil").attr("which");
    py::object nvcc = which("nvcc");
    if (nvcc.is_none() && cuda.bin_exists)
        nvcc = which("nvcc", py::arg("path") = cuda.bin);
    return nvcc;
}

// The release line of `nvcc --version`, or its last line.
py::str nvcc_version(const py::object &nvcc) {
    py::list command;
    command.append(nvcc);
    command.append("--version");
    py::object done = run_process(command, py::none());
    for (py::handle line : done.attr("stdout").attr("splitlines")())
        if (truthy(line.attr("__contains__")("release")))
            return py::str(line).attr("strip")();
    return last_line(done.attr("stdout"));
}

void build_test_cuda(const Globals &g) {
    CudaPath cuda = read_cuda_path(g);
    if (cuda.value.is_none()) {
        print_line("CUDA_PATH: not set");
    } else {
        print_line(py::str("CUDA_PATH: {}").format(cuda.value));
        print_line(py::str("CUDA_PATH bin: {} ({})")
                       .format(cuda.bin, cuda.bin_exists ? "exists" : "does not exist"));
    }
    bool has_dll_path = py::hasattr(g["os"], "add_dll_directory");
    if (cuda.bin_exists && has_dll_path)
        print_line(py::str("DLL search path: the run step adds {}").format(cuda.bin));
    else if (!has_dll_path)
        print_line("DLL search path: not used on this platform (no os.add_dll_directory)");
    else
        print_line("DLL search path: nothing is added (no CUDA_PATH bin directory)");
    py::object nvcc = find_nvcc(cuda);
    if (nvcc.is_none())
        print_line("nvcc: not found");
    else
        print_line(py::str("nvcc: {} ({})").format(nvcc, nvcc_version(nvcc)));
}

void build_test_cuda2(const Globals &g) {
    py::object nvcc = find_nvcc(read_cuda_path(g));
    if (nvcc.is_none()) {
        print_line("nvcc: not found; there is no CUDA toolkit, nothing to compile");
        return;
    }
    print_line(py::str("nvcc: {}").format(nvcc));
    bool failed = false;
    in_temp_dir([&](const py::str &dir) {
        py::object path = os_path();
        write_text(path.attr("join")(dir, "cuda_check.cu"), py::str(cuda_check_source));
        py::list compile;
        compile.append(nvcc);
        compile.append("cuda_check.cu");
        compile.append("-o");
        compile.append("cuda_check");
        py::object built = run_process(compile, dir);
        if (!py::int_(0).equal(built.attr("returncode"))) {
            print_line(py::str("[FAILED] compile: nvcc ended with status {}: {}")
                           .format(built.attr("returncode"), last_line(built.attr("stderr"))));
            failed = true;
            return;
        }
        print_line("[ok] compile: cuda_check.cu");
        bool windows = py::str("nt").equal(g["os"].attr("name"));
        py::list run;
        run.append(path.attr("join")(dir, windows ? "cuda_check.exe" : "cuda_check"));
        py::object done = run_process(run, dir);
        py::object status = done.attr("returncode");
        py::str output = last_line(done.attr("stdout"));
        if (status.equal(py::int_(cuda_no_gpu_status))) {
            print_line(py::str("[skipped] run: {}; the program was built but not run on a GPU")
                           .format(output));
        } else if (status.equal(py::int_(0))) {
            print_line(py::str("[ok] run on the GPU: {}").format(output));
        } else {
            print_line(py::str("[FAILED] run: status {}: {}").format(status, output));
            failed = true;
        }
    });
    if (failed)
        g["sys"].attr("exit")(1);
}

void module_command(const py::object &cls, const py::object &argv) {
    if (py::len(argv) < 1)
        return;
    py::object first = argv[py::int_(0)];
    py::object cmd = first.attr("upper")();
    if (truthy(cmd.attr("endswith")(".PY")))
        print_line("잘못된 사용");
    else if (cmd.equal(py::str("TEST")))
        cls.attr("build_test")();
    else if (cmd.equal(py::str("CUDA_TEST")))
        cls.attr("build_test_cuda")();
    else if (cmd.equal(py::str("CUDA_TEST2")))
        cls.attr("build_test_cuda2")();
    else
        print_line(py::str("Invalid option: ") + py::str(first));
}

} // namespace

void add_module_command(ClassBuilder &zel) {
    zel.classmethod("module_command", module_command, py::arg("cls"), py::arg("argv"));
    zel.classmethod(
        "build_test", [](const Globals &g, py::object) { build_test(g); }, py::arg("cls"));
    zel.classmethod(
        "build_test_cuda", [](const Globals &g, py::object) { build_test_cuda(g); },
        py::arg("cls"));
    zel.classmethod(
        "build_test_cuda2", [](const Globals &g, py::object) { build_test_cuda2(g); },
        py::arg("cls"));
}

} // namespace zel
