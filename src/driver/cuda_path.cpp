#include "driver/cuda_path.hpp"
#include "support/objects.hpp"

namespace zel {

CudaPath read_cuda_path(const py::object &os) {
    CudaPath cuda;
    py::object value = os.attr("environ").attr("get")("CUDA_PATH");
    cuda.value = truthy(value) ? value : py::none();
    cuda.bin = py::none();
    if (!cuda.value.is_none()) {
        py::object path = os.attr("path");
        cuda.bin = path.attr("join")(cuda.value, "bin");
        cuda.bin_exists = truthy(path.attr("isdir")(cuda.bin));
    }
    return cuda;
}

bool has_dll_search_path(const py::object &os) {
    return has_attr(os, "add_dll_directory");
}

py::object cuda_dll_directory(const py::object &os) {
    CudaPath cuda = read_cuda_path(os);
    if (!cuda.bin_exists || !has_dll_search_path(os))
        return py::none();
    return cuda.bin;
}

} // namespace zel
