// ZEL.build_test_cuda and ZEL.build_test_cuda2: what the command mode reports about CUDA
// (the CUDA_PATH directories, the DLL search path, nvcc), and a small CUDA program compiled
// with nvcc and run on the GPU.
#include "driver/child_process.hpp"
#include "driver/cuda_path.hpp"
#include "driver/driver_classes.hpp"
#include "support/files.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

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

void build_test_cuda(const Globals &g, const py::object &) {
    py::object os = g["os"];
    CudaPath cuda = read_cuda_path(os);
    if (cuda.value.is_none()) {
        print_line("CUDA_PATH: not set");
    } else {
        print_line(py::str("CUDA_PATH: {}").format(cuda.value));
        print_line(py::str("CUDA_PATH bin: {} ({})")
                       .format(cuda.bin, cuda.bin_exists ? "exists" : "does not exist"));
    }
    py::object dll_directory = cuda_dll_directory(os);
    if (!dll_directory.is_none())
        print_line(py::str("DLL search path: the run step adds {}").format(dll_directory));
    else if (!has_dll_search_path(os))
        print_line("DLL search path: not used on this platform (no os.add_dll_directory)");
    else
        print_line("DLL search path: nothing is added (no CUDA_PATH bin directory)");
    py::object nvcc = find_nvcc(cuda);
    if (nvcc.is_none())
        print_line("nvcc: not found");
    else
        print_line(py::str("nvcc: {} ({})").format(nvcc, nvcc_version(nvcc)));
}

// Compiles the CUDA check program in `dir` and runs it; returns whether a step failed.
bool compile_and_run_cuda_check(const Globals &g, const py::object &nvcc, const py::str &dir) {
    py::object path = g["os"].attr("path");
    write_text(path.attr("join")(dir, "cuda_check.cu"), py::str(cuda_check_source));
    py::list compile_command;
    compile_command.append(nvcc);
    for (const char *item : {"cuda_check.cu", "-o", "cuda_check"})
        compile_command.append(item);
    py::object built = run_process(compile_command, dir);
    if (!py::int_(0).equal(built.attr("returncode"))) {
        print_line(py::str("[FAILED] compile: nvcc ended with status {}: {}")
                       .format(built.attr("returncode"), last_line(built.attr("stderr"))));
        return true;
    }
    print_line("[ok] compile: cuda_check.cu");
    bool windows = py::str("nt").equal(g["os"].attr("name"));
    py::list run_command;
    run_command.append(path.attr("join")(dir, windows ? "cuda_check.exe" : "cuda_check"));
    py::object done = run_process(run_command, dir);
    py::object status = done.attr("returncode");
    py::str output = last_line(done.attr("stdout"));
    if (status.equal(py::int_(cuda_no_gpu_status))) {
        print_line(py::str("[skipped] run: {}; the program was built but not run on a GPU")
                       .format(output));
        return false;
    }
    if (status.equal(py::int_(0))) {
        print_line(py::str("[ok] run on the GPU: {}").format(output));
        return false;
    }
    print_line(py::str("[FAILED] run: status {}: {}").format(status, output));
    return true;
}

void build_test_cuda2(const Globals &g, const py::object &) {
    py::object nvcc = find_nvcc(read_cuda_path(g["os"]));
    if (nvcc.is_none()) {
        print_line("nvcc: not found; there is no CUDA toolkit, nothing to compile");
        return;
    }
    print_line(py::str("nvcc: {}").format(nvcc));
    bool failed = false;
    in_temp_dir([&](const py::str &dir) { failed = compile_and_run_cuda_check(g, nvcc, dir); });
    if (failed)
        g["sys"].attr("exit")(1);
}

} // namespace

void add_cuda_reports(ClassBuilder &zel) {
    zel.classmethod("build_test_cuda", build_test_cuda, py::arg("cls"));
    zel.classmethod("build_test_cuda2", build_test_cuda2, py::arg("cls"));
}

} // namespace zel
