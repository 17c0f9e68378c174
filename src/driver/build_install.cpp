// Moving a finished build into the current directory, and taking a build from there to load.
// A build is written under a name of its own beside its final name, with its record, and each
// is renamed into place in one step, so no reader ever sees a cut or half-written file under
// the final name (a full disk included). What is loaded is a link of its own to the build
// whose contents its record names: another process that puts a build of the same name in
// place meanwhile replaces the name, never the file this process checked and loads.
#include "driver/built_modules.hpp"
#include "support/files.hpp"
#include "support/objects.hpp"

#include <vector>

namespace zel {
namespace {

// A fresh file beside `name`, hidden, and matched by no build's file-name pattern.
py::str temporary_beside(const py::str &name) {
    py::tuple made =
        py::module_::import("tempfile")
            .attr("mkstemp")(py::arg("prefix") = py::str(".") + name + py::str("."),
                             py::arg("suffix") = ".tmp",
                             py::arg("dir") = py::module_::import("os").attr("curdir"));
    py::object os = py::module_::import("os");
    os.attr("close")(made[0]);
    return os.attr("path").attr("basename")(made[1]);
}

// Writes the whole of `write` into `path` and onto the disk: a full disk fails here, before
// anything is renamed.
template <typename Write> void write_durably(const py::object &path, Write &&write) {
    py::object file = open_file(path, "wb");
    closing(file, [&] {
        write(file);
        file.attr("flush")();
        py::module_::import("os").attr("fsync")(file.attr("fileno")());
    });
}

} // namespace

py::str link_for_loading(const py::object &file, const py::object &name) {
    py::str link =
        py::str(".{}.{}.load").format(name, py::module_::import("secrets").attr("token_hex")(8));
    py::module_::import("os").attr("link")(file, link);
    return link;
}

py::object install_build(const py::object &cls, const py::object &built, const py::str &final,
                         const py::bytes &source) {
    py::object os = py::module_::import("os");
    py::object copy = py::module_::import("shutil").attr("copyfileobj");
    std::vector<py::object> made;
    try {
        py::str build = temporary_beside(final);
        made.push_back(build);
        // The temporary file is private; the build gets the mode the compiler gave it.
        py::module_::import("shutil").attr("copymode")(built, build);
        write_durably(build, [&](const py::object &out) {
            py::object in = open_file(built, "rb");
            closing(in, [&] { copy(in, out); });
        });
        py::str record = temporary_beside(final + py::str(".zel"));
        made.push_back(record);
        py::object text = cls.attr("build_record")(source, build);
        write_durably(record, [&](const py::object &out) {
            out.attr("write")(text.attr("encode")("utf-8"));
        });
        py::str loaded = link_for_loading(build, final);
        made.push_back(loaded);
        // The record first: a reader between the two steps finds a record that names another
        // file than the build beside it, and rebuilds.
        os.attr("replace")(record, record_path(final));
        os.attr("replace")(build, final);
        return std::move(loaded);
    } catch (...) {
        for (const py::object &path : made)
            remove_if_present(os, path);
        throw;
    }
}

void remove_loaded_link(const py::object &link) {
    remove_if_present(py::module_::import("os"), link);
}

} // namespace zel
