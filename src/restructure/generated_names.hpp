// Names that the rewriting gives to things of the generated module.
#pragma once

namespace zel {

// The alias of Cython's compile-time module, through which a loop switches off checks that a
// test before it has made needless; also the tag on the root block that asks for its cimport.
constexpr const char *cython_alias = "_zel_cython_";

// The count of a projection loop's group loops that ended without break: its else clause runs
// when every loop that may break did not.
constexpr const char *loops_ended = "_zel_loops_ended_";

} // namespace zel
