#include "restructure/restructure_classes.hpp"

namespace zel {

void add_function_rewriting(ClassBuilder &) {}

} // namespace zel
