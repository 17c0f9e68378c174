#include "driver/script_directory.hpp"

#include <algorithm>

namespace zel {
namespace {

// The script's file as the interpreter set it in `__main__`'s namespace, or None. The
// namespace is read directly: the module may answer an attribute lookup otherwise.
py::object main_script_file(const py::object &sys) {
    py::object main = sys.attr("modules").attr("get")("__main__");
    if (main.is_none() || !PyModule_Check(main.ptr()))
        return py::none();
    py::object file =
        py::reinterpret_borrow<py::dict>(PyModule_GetDict(main.ptr())).attr("get")("__file__");
    return py::isinstance<py::str>(file) ? file : py::none();
}

} // namespace

ScriptDirectoryOffPath::ScriptDirectoryOffPath() {
    py::object sys = py::module_::import("sys");
    py::object file = main_script_file(sys);
    if (file.is_none())
        return;
    py::object path = py::module_::import("os").attr("path");
    py::object realpath = path.attr("realpath");
    // The interpreter puts the directory of the script's real file first on the path; a
    // script may add its directory as it names it.
    py::set directories;
    directories.add(path.attr("dirname")(realpath(file)));
    directories.add(realpath(path.attr("dirname")(path.attr("abspath")(file))));

    py::list entries = sys.attr("path");
    for (size_t i = entries.size(); i-- > 0;) {
        py::object entry = entries[i];
        if (py::isinstance<py::str>(entry) && directories.contains(realpath(entry))) {
            removed_.emplace_back(i, entry);
            if (PySequence_DelItem(entries.ptr(), static_cast<py::ssize_t>(i)) < 0)
                throw py::error_already_set();
        }
    }
}

void ScriptDirectoryOffPath::restore() {
    if (removed_.empty())
        return;
    py::list entries = py::module_::import("sys").attr("path");
    // Taken off from the back, put back from the front: each returns to its own index.
    for (auto it = removed_.rbegin(); it != removed_.rend(); ++it)
        entries.insert(std::min(it->first, entries.size()), it->second);
    removed_.clear();
}

ScriptDirectoryOffPath::~ScriptDirectoryOffPath() {
    // Reached at the end of the body or while its exception travels out; pybind11 holds that
    // exception, so Python's error indicator is clear here.
    try {
        restore();
    } catch (py::error_already_set &e) {
        // A destructor cannot raise: the failure is shown as the interpreter shows an
        // exception it cannot raise, and the exception that ends the import stays the one
        // reported.
        e.discard_as_unraisable("restoring the module search path");
    }
}

} // namespace zel
