#include "restructure/restructure_classes.hpp"

namespace zel {

void add_assignment_rewriting(ClassBuilder &) {}

} // namespace zel
