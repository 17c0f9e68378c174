// Names that the rewriting gives to things of the generated module.
#pragma once

namespace zel {

// The alias of Cython's compile-time module, through which a loop switches off checks that a
// test before it has made needless; also the tag on the root block that asks for its cimport.
constexpr const char *cython_alias = "_zel_cython_";

} // namespace zel
