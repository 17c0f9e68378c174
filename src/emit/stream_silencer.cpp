// ZELSetupTools.__hout__: the context manager that silences the standard streams during a
// build, or sends them to a file of their own, the child processes' output included.
#include "emit/emit_classes.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

using namespace pybind11::literals;

// The copy of descriptor `fd` that puts it back later; -1 when `fd` is not open.
py::int_ save_descriptor(const py::object &os, int fd) {
    try {
        return os.attr("dup")(fd);
    } catch (py::error_already_set &e) {
        if (!e.matches(PyExc_OSError))
            throw;
        return py::int_(-1);
    }
}

// The compiler runs as a child process that writes to descriptors 1 and 2 directly, so
// they follow the replaced streams for as long as the context is active.
py::list redirect_descriptors(const py::object &os, const py::object &out, const py::object &err) {
    py::list saved;
    int fd = 1;
    for (const py::object &stream : {out, err}) {
        py::int_ copy = save_descriptor(os, fd);
        os.attr("dup2")(stream.attr("fileno")(), fd);
        saved.append(py::make_tuple(fd, copy));
        ++fd;
    }
    return saved;
}

void restore_descriptors(const py::object &os, const py::list &saved) {
    for (py::handle pair : saved) {
        py::object fd = pair[py::int_(0)];
        py::object copy = pair[py::int_(1)];
        if (py::cast<long>(copy) < 0) {
            os.attr("close")(fd);
            continue;
        }
        os.attr("dup2")(copy, fd);
        os.attr("close")(copy);
    }
}

void hout_init(const py::object &self, const py::object &act) {
    self.attr("act") = act;
}

void hout_enter(const Globals &g, const py::object &self) {
    py::object act = self.attr("act");
    if (!truthy(act))
        return;
    py::object sys = g["sys"];
    py::object os = g["os"];
    py::object open = g["io"].attr("open");
    py::object out, err;
    if (act.equal(py::bool_(true))) {
        out = open(os.attr("devnull"), "w");
        err = open(os.attr("devnull"), "w");
    } else {
        // A file of its own, which both streams and the child processes append to, so that
        // no write overwrites another.
        open(act, "w").attr("close")();
        out = open(act, "a", "buffering"_a = 1);
        err = open(act, "a", "buffering"_a = 1);
    }
    self.attr("o1") = sys.attr("stdout");
    self.attr("o2") = sys.attr("stderr");
    self.attr("fds") = redirect_descriptors(os, out, err);
    sys.attr("stdout") = out;
    sys.attr("stderr") = err;
}

void hout_exit(const Globals &g, const py::object &self, const py::object &, const py::object &,
               const py::object &) {
    if (!truthy(self.attr("act")))
        return;
    py::object sys = g["sys"];
    restore_descriptors(g["os"], self.attr("fds"));
    sys.attr("stdout").attr("close")();
    sys.attr("stderr").attr("close")();
    sys.attr("stdout") = self.attr("o1");
    sys.attr("stderr") = self.attr("o2");
}

} // namespace

py::object make_stream_silencer(const ClassBuilder &setuptools) {
    ClassBuilder hout = setuptools.nested("__hout__");
    hout.method("__init__", hout_init, py::arg("self"), py::arg("act") = py::bool_(true));
    hout.method("__enter__", hout_enter, py::arg("self"));
    hout.method("__exit__", hout_exit, py::arg("self"), py::arg("exc_type"), py::arg("exc_val"),
                py::arg("exc_tb"));
    return hout.build();
}

} // namespace zel
