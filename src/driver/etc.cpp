// Etc: the operating system's name, the daily log file and the count of its lines.
#include "driver/driver_classes.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

// Counts the lines an open file yields when iterated.
py::int_ count_lines(const py::object &file) {
    long count = 0;
    for (py::handle line : file) {
        (void)line;
        ++count;
    }
    return py::int_(count);
}

py::object log_lines(const py::object &cls) {
    py::object open = py::module_::import("builtins").attr("open");
    py::object path = cls.attr("log_file");
    try {
        py::object file = open(path, "r", py::arg("encoding") = "utf-8");
        py::object closer = file.attr("__exit__");
        try {
            py::int_ count = count_lines(file);
            closer(py::none(), py::none(), py::none());
            return std::move(count);
        } catch (py::error_already_set &e) {
            closer(py::none(), py::none(), py::none());
            if (!e.matches(PyExc_UnicodeDecodeError))
                throw;
        }
    } catch (py::error_already_set &e) {
        if (e.matches(PyExc_FileNotFoundError))
            return py::int_(-1);
        throw;
    }
    py::object file = open(path, "rb");
    py::int_ count = count_lines(file);
    file.attr("close")();
    return std::move(count);
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
    py::object file =
        py::module_::import("builtins").attr("open")(path, "a", py::arg("encoding") = "utf-8");
    file.attr("write")(line);
    file.attr("close")();
}

} // namespace

py::object make_etc(const Globals &g) {
    ClassBuilder etc(g, "Etc");
    etc.attr("log_file", py::str(""));
    etc.staticmethod("enc", [](py::object s) { return s; });
    etc.staticmethod("platform", []() { return py::module_::import("platform").attr("system")(); });
    etc.classmethod("log_lines", log_lines);
    etc.classmethod(
        "log",
        [](const Globals &g, py::object cls, py::args args, py::object put_date) {
            log(g, cls, args, put_date);
        },
        py::arg("cls"), py::arg("put_date") = false);
    etc.classmethod(
        "log2",
        [](const Globals &g, py::object cls, py::object lnum, py::args args, py::object put_date) {
            if (!truthy(lnum))
                return;
            py::list values;
            values.append(py::str("{}({})").format(g["__file__"], lnum.attr("f_lineno")));
            for (py::handle arg : args)
                values.append(arg);
            cls.attr("log")(*py::tuple(values), py::arg("put_date") = put_date);
        },
        py::arg("cls"), py::arg("lnum"), py::arg("put_date") = false);
    return etc.build();
}

} // namespace zel
