#include "restructure/restructure_classes.hpp"

namespace zel {

void add_import_rewriting(ClassBuilder &) {}

} // namespace zel
