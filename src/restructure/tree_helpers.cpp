#include "restructure/restructure_classes.hpp"

namespace zel {

void add_tree_helpers(ClassBuilder &) {}

} // namespace zel
