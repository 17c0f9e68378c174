// ZEL.prepare_path: the version gate, the script's names, and whether its earlier builds
// in the current directory are stale (and then deleted).
#include "driver/built_modules.hpp"
#include "driver/driver_classes.hpp"
#include "driver/python_version.hpp"
#include "driver/script_source.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

void check_version(const Globals &g, const py::object &cls) {
    py::object version = g["sys"].attr("version_info");
    int major = py::int_(version.attr("major")).cast<int>();
    py::object minor = version.attr("minor");
    cls.attr("vs") = py::str(py::int_(major)) + py::str(minor);
    if (major < min_python_major ||
        (major == min_python_major && minor < py::int_(min_python_minor))) {
        print_line("Python version must be same or higher than v" + min_python_text());
        print_line("Your python version is", major);
        g["sys"].attr("exit")(1054);
    }
}

// The pattern of the script's built modules. The stem is escaped so that wildcard
// characters in a script's name match only themselves: a script must never find, and
// delete, the builds of other scripts.
py::str build_pattern(const Globals &g, const py::str &stem, const py::object &vs) {
    py::object escaped = py::module_::import("glob").attr("escape")(stem);
    if (g["Etc"].attr("platform")().equal(py::str("Windows")))
        return py::str("{}.cp{}-*.pyd").format(escaped, vs);
    return py::str("{}.cpython-{}-*.so").format(escaped, vs);
}

// Rebuild unless at least one earlier build exists and every one is newer than the script.
bool is_older_than_script(const py::object &path, const py::object &script,
                          const py::list &builds) {
    py::object script_time = path.attr("getmtime")(script);
    for (py::handle build : builds) {
        if (!(script_time < path.attr("getmtime")(build)))
            return true;
    }
    return builds.empty();
}

// A build is stale when it is older than the script, was made from other text, by another
// version of zel or for another processor, or is not the file that was built.
bool is_stale(const py::object &cls, const py::object &path, const py::object &script,
              const py::list &builds) {
    if (is_older_than_script(path, script, builds))
        return true;
    py::bytes source = read_script(script);
    for (py::handle build : builds) {
        if (!made_from(py::reinterpret_borrow<py::object>(build),
                       cls.attr("build_record")(source, build)))
            return true;
    }
    return false;
}

// The build lands in the current directory: one that cannot take it is found before anything
// is deleted or compiled.
void check_writable(const Globals &g, const py::object &cls) {
    py::object os = g["os"];
    py::object directory = os.attr("getcwd")();
    if (truthy(os.attr("access")(directory, os.attr("W_OK"))))
        return;
    print_line(py::str("{}: cannot write the build into the read-only current directory {}")
                   .format(cls.attr("name"), directory));
    g["sys"].attr("exit")(-1);
}

py::tuple prepare_path(const Globals &g, const py::object &cls, const py::object &file) {
    check_version(g, cls);
    py::object path = g["os"].attr("path");
    py::str base_name = path.attr("basename")(file);
    py::str stem = path.attr("splitext")(base_name)[py::int_(0)];
    if (!truthy(path.attr("exists")(file))) {
        PyErr_SetObject(PyExc_SystemError, py::str("fatal.0145: `{}`").format(base_name).ptr());
        throw py::error_already_set();
    }
    py::list builds = find_builds(g, stem, cls.attr("vs"));
    cls.attr("fl") = builds;
    bool rebuild = is_stale(cls, path, file, builds);
    if (rebuild) {
        check_writable(g, cls);
        for (py::handle build : builds)
            remove_build(g["os"], py::reinterpret_borrow<py::object>(build));
    }
    return py::make_tuple(base_name, stem, rebuild);
}

} // namespace

py::list find_builds(const Globals &g, const py::str &stem, const py::object &vs) {
    return py::module_::import("glob").attr("glob")(build_pattern(g, stem, vs));
}

void add_prepare_path(ClassBuilder &zel) {
    zel.classmethod("prepare_path", prepare_path, py::arg("cls"), py::arg("file"));
}

} // namespace zel
