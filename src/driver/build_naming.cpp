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
// build of zel or for another processor, or is not the file that was built. The build that
// would be loaded (the one named as the build names it) is checked through a link of its own,
// which is then what `ZEL.run` loads.
bool is_stale(const py::object &cls, const py::object &path, const py::object &script,
              const py::str &stem, const py::list &builds) {
    if (is_older_than_script(path, script, builds))
        return true;
    py::bytes source = read_script(script);
    py::object loaded_name =
        stem + py::module_::import("sysconfig").attr("get_config_var")("EXT_SUFFIX");
    py::object loaded = py::none();
    bool stale = false;
    for (py::handle item : builds) {
        py::object build = py::reinterpret_borrow<py::object>(item);
        py::object file = build;
        if (build.equal(loaded_name))
            file = loaded = link_for_loading(build, build);
        if (!made_from(build, cls.attr("build_record")(source, file))) {
            stale = true;
            break;
        }
    }
    if (stale && !loaded.is_none())
        remove_loaded_link(loaded);
    if (!stale && !loaded.is_none())
        cls.attr("build_file") = loaded;
    return stale;
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
    // The interpreter has read the script from standard input to its end: there is no text
    // left to compile.
    if (py::str("<stdin>").equal(file) && !truthy(path.attr("exists")(file))) {
        print_line(py::str("{}: cannot compile a script read from standard input; save it to a "
                           "file and run that")
                       .format(cls.attr("name")));
        g["sys"].attr("exit")(-1);
    }
    if (!truthy(path.attr("exists")(file))) {
        raise_error(PyExc_SystemError, py::str("fatal.0145: `{}`").format(base_name));
    }
    py::list builds = find_builds(g, stem, cls.attr("vs"));
    cls.attr("fl") = builds;
    bool rebuild = is_stale(cls, path, file, stem, builds);
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
