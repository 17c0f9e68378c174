// The reference walk of projection statements: which names a statement writes and reads,
// and at which offset of the loop variable it reads them.
#pragma once

#include "support/class_builder.hpp"

namespace zel {

void add_reference_walk(ClassBuilder &zel_ast); // make_global_ref_list, make_global_ref_list_expr

} // namespace zel
