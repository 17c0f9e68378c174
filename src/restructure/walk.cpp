#include "restructure/restructure_classes.hpp"

namespace zel {

void add_walk(ClassBuilder &) {}

} // namespace zel
