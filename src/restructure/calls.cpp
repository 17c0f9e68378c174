#include "restructure/restructure_classes.hpp"

namespace zel {

void add_call_rewriting(ClassBuilder &) {}

} // namespace zel
