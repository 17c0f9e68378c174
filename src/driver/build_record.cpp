// The record of what a build was made from: one line beside the build, naming the zel version
// and a hash of zel's own extension module, a hash of the script's bytes, the processor the
// build was compiled for, and the build file's size and hash. The rebuild decision runs a build
// only when its record names the script as it is now, this build of zel, this processor and the
// file as it was written: a build of another script of the same name or of the text a restored
// copy replaced, a build made by another build of zel (whose generated code may differ under the
// same version number), a build for another processor (which could die of an instruction this
// one lacks), and a cut or overwritten build file are never loaded.
#include "driver/built_modules.hpp"
#include "driver/driver_classes.hpp"
#include "driver/this_cpu.hpp"
#include "support/files.hpp"
#include "support/objects.hpp"

#include <string>

namespace zel {
namespace {

py::str sha256_of_file(const py::object &path) {
    py::object file = open_file(path, "rb");
    py::object digest;
    closing(file, [&] {
        digest =
            py::module_::import("hashlib").attr("file_digest")(file, "sha256").attr("hexdigest")();
    });
    return digest;
}

// The hash of the zel extension module this process runs. The loaded code cannot change within
// the process (an extension module is never loaded twice), so its hash is taken once.
const std::string &this_zel_build(const Globals &g) {
    static const std::string digest = sha256_of_file(g["__file__"]);
    return digest;
}

// The size and hash of the build file as it is now.
py::str build_file_digest(const py::object &build) {
    py::object file = open_file(build, "rb");
    py::object size, digest;
    closing(file, [&] {
        size = py::module_::import("os").attr("fstat")(file.attr("fileno")()).attr("st_size");
        digest =
            py::module_::import("hashlib").attr("file_digest")(file, "sha256").attr("hexdigest")();
    });
    return py::str("{} sha256 {}").format(size, digest);
}

// ZEL.build_record: the record of `build` as made now from the script bytes `source`.
py::str build_record(const Globals &g, const py::object &cls, const py::bytes &source,
                     const py::object &build) {
    py::object digest = py::module_::import("hashlib").attr("sha256")(source).attr("hexdigest")();
    return py::str("zel {} module sha256 {} sha256 {} cpu {} build {}\n")
        .format(cls.attr("__version__"), this_zel_build(g), digest, this_cpu(),
                build_file_digest(build));
}

} // namespace

py::object record_path(const py::object &build) {
    return build + py::str(".zel");
}

bool made_from(const py::object &build, const py::object &record) {
    py::object text;
    try {
        text = read_text(record_path(build));
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_FileNotFoundError))
            throw;
        return false;
    }
    return text.equal(record);
}

void remove_if_present(const py::object &os, const py::object &path) {
    try {
        os.attr("remove")(path);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_FileNotFoundError))
            throw;
    }
}

void remove_build(const py::object &os, const py::object &build) {
    remove_if_present(os, build);
    remove_if_present(os, record_path(build));
}

void add_build_record(ClassBuilder &zel) {
    zel.classmethod("build_record", build_record, py::arg("cls"), py::arg("source"),
                    py::arg("build"));
}

} // namespace zel
