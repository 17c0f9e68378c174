// The built modules of a script in the current directory, and the record beside each build
// of what it was made from.
#pragma once

#include "support/class_builder.hpp"

namespace zel {

// The name of the module inside the build of a script whose file name has the stem `stem`: the
// stem itself where it is a module name; otherwise an identifier made from it (the build keeps
// the stem in its file name, and the module runs as `__main__` whatever its own name).
py::str module_name_for(const py::str &stem);

// The script's built modules for the running interpreter (version digits `vs`), found by
// their file-name pattern in the current directory.
py::list find_builds(const Globals &g, const py::str &stem, const py::object &vs);

// Whether the record beside `build` is `record`; a build without a record matches none.
bool made_from(const py::object &build, const py::object &record);

// Deletes `path`; a file that another process deleted first is gone already.
void remove_if_present(const py::object &os, const py::object &path);

// Deletes a build and its record, each as remove_if_present does.
void remove_build(const py::object &os, const py::object &build);

// The path of the record beside `build`.
py::object record_path(const py::object &build);

// A hard link of its own to `file` in the current directory, named after the build `name`, for
// this process to check and load.
py::str link_for_loading(const py::object &file, const py::object &name);

// Puts the module `built` (in the build's temporary directory) into place as `final` in the
// current directory, with its record of the script bytes `source`; returns a link of its own
// to the build, for loading.
py::object install_build(const py::object &cls, const py::object &built, const py::str &final,
                         const py::bytes &source);

// Deletes a link made for loading, once the module is loaded or not to be loaded.
void remove_loaded_link(const py::object &link);

} // namespace zel
