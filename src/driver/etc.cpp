// Etc: the operating system's name, the daily log file and the count of its lines.
#include "driver/driver_classes.hpp"
#include "support/files.hpp"
#include "support/objects.hpp"

namespace zel {
namespace {

// The number of lines the file at `path` yields when iterated; the file is closed on every
// way out.
py::int_ count_lines(const py::object &path, const char *mode) {
    py::object file = open_file(path, mode);
    long count = 0;
    closing(file, [&] {
        for (py::handle line : file) {
            (void)line;
            ++count;
        }
    });
    return py::int_(count);
}

py::object enc(py::object s) {
    return s;
}

py::object platform() {
    return py::module_::import("platform").attr("system")();
}

py::object log_lines(const py::object &cls) {
    py::object path = cls.attr("log_file");
    try {
        return count_lines(path, "r");
    } catch (py::error_already_set &e) {
        if (e.matches(PyExc_FileNotFoundError))
            return py::int_(-1);
        if (!e.matches(PyExc_UnicodeDecodeError))
            throw;
    }
    return count_lines(path, "rb");
}

void log(const Globals &g, const py::object &cls, const py::args &args,
         const py::object &put_date) {
    py::object now = g["datetime"].attr("now")();
    py::str date = now.attr("strftime")("%Y-%m-%d");
    py::str time = now.attr("strftime")("%H:%M:%S");
    py::list texts;
    for (py::handle arg : args)
        texts.append(py::str(arg));
    py::str message = py::str(" ").attr("join")(texts);
    py::str file_name = py::str("{}_{}.log").format(g["ZEL"].attr("name"), date);
    py::object path = py::module_::import("pathlib").attr("Path")(file_name).attr("resolve")();
    cls.attr("log_file") = path;
    py::str line = truthy(put_date) ? py::str("[{} {}] {}\n").format(date, time, message)
                                    : py::str("{}\n").format(message);
    py::object file = open_file(path, "a");
    closing(file, [&] { file.attr("write")(line); });
}

void log2(const Globals &g, const py::object &cls, const py::object &lnum, const py::args &args,
          const py::object &put_date) {
    if (!truthy(lnum))
        return;
    py::list values;
    values.append(py::str("{}({})").format(g["__file__"], lnum.attr("f_lineno")));
    for (py::handle arg : args)
        values.append(arg);
    cls.attr("log")(*py::tuple(values), py::arg("put_date") = put_date);
}

} // namespace

py::object make_etc(const Globals &g) {
    ClassBuilder etc(g, "Etc");
    etc.attr("log_file", py::str(""));
    etc.staticmethod("enc", enc, py::arg("s"));
    etc.staticmethod("platform", platform);
    etc.classmethod("log_lines", log_lines, py::arg("cls"));
    etc.classmethod("log", log, py::arg("cls"), py::arg("put_date") = false);
    etc.classmethod("log2", log2, py::arg("cls"), py::arg("lnum"), py::arg("put_date") = false);
    return etc.build();
}

} // namespace zel
