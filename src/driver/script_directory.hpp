// The running script's directory, kept off the module search path while zel imports what it
// needs (its own module-level imports, then the Cython compiler and setuptools with everything
// they import). A script named like one of those modules (random.py, typing.py) would
// otherwise be imported in its place, and its body would run in the middle of the compile.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>
#include <vector>

namespace zel {
namespace py = pybind11;

class ScriptDirectoryOffPath {
  public:
    // Takes every entry of `sys.path` that names the directory of `__main__.__file__` off
    // the path; without a script file nothing is taken.
    ScriptDirectoryOffPath();
    // Puts back what is still off the path.
    ~ScriptDirectoryOffPath();
    ScriptDirectoryOffPath(const ScriptDirectoryOffPath &) = delete;
    ScriptDirectoryOffPath &operator=(const ScriptDirectoryOffPath &) = delete;

    // Puts the entries back where they were, so that the script's own imports find them.
    void restore();

  private:
    std::vector<std::pair<size_t, py::object>> removed_;
};

} // namespace zel
