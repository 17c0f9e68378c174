// The record of what a build was made from: one line beside the build, naming the zel version
// and a hash of the script's bytes. The rebuild decision runs a build only when its record
// names the script as it is now, so that a build of another script of the same name, or of
// the text a restored copy replaced, is never run in its place.
#include "driver/built_modules.hpp"
#include "driver/driver_classes.hpp"
#include "support/closing.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

py::object record_path(const py::object &build) {
    return build + py::str(".zel");
}

py::object open_record(const py::object &build, const char *mode) {
    return py::module_::import("builtins")
        .attr("open")(record_path(build), mode, py::arg("encoding") = "utf-8");
}

// ZEL.build_record: the record of a build made now from the script bytes `source`.
py::str build_record(const py::object &cls, const py::bytes &source) {
    py::object digest = py::module_::import("hashlib").attr("sha256")(source).attr("hexdigest")();
    return py::str("zel {} sha256 {}\n").format(cls.attr("__version__"), digest);
}

} // namespace

bool made_from(const py::object &build, const py::object &record) {
    py::object file;
    try {
        file = open_record(build, "r");
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_FileNotFoundError))
            throw;
        return false;
    }
    py::object text;
    closing(file, [&] { text = file.attr("read")(); });
    return text.equal(record);
}

void write_record(const py::object &build, const py::object &record) {
    py::object file = open_record(build, "w");
    closing(file, [&] { file.attr("write")(record); });
}

void remove_build(const py::object &os, const py::object &build) {
    os.attr("remove")(build);
    try {
        os.attr("remove")(record_path(build));
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_FileNotFoundError))
            throw;
    }
}

void add_build_record(ClassBuilder &zel) {
    zel.classmethod("build_record", build_record, py::arg("cls"), py::arg("source"));
}

} // namespace zel
