#include "restructure/restructure_classes.hpp"

namespace zel {

void add_name_rewriting(ClassBuilder &) {}

} // namespace zel
