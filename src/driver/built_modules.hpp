// The built modules of a script in the current directory, and the record beside each build
// of what it was made from.
#pragma once

#include "support/class_builder.hpp"

namespace zel {

// The script's built modules for the running interpreter (version digits `vs`), found by
// their file-name pattern in the current directory.
py::list find_builds(const Globals &g, const py::str &stem, const py::object &vs);

// Whether the record beside `build` is `record`; a build without a record matches none.
bool made_from(const py::object &build, const py::object &record);

// Writes `record` beside `build`.
void write_record(const py::object &build, const py::object &record);

// Deletes a build and its record.
void remove_build(const py::object &os, const py::object &build);

} // namespace zel
