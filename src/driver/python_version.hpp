// The oldest interpreter zel runs on. CMake reads it from pyproject.toml's requires-python, so
// the package metadata, the version gate and the self-check name one version.
#pragma once

#include <string>

namespace zel {

constexpr int min_python_major = ZEL_MIN_PYTHON_MAJOR;
constexpr int min_python_minor = ZEL_MIN_PYTHON_MINOR;

// "3.11"
inline std::string min_python_text() {
    return std::to_string(min_python_major) + "." + std::to_string(min_python_minor);
}

} // namespace zel
