#include "restructure/restructure_classes.hpp"

namespace zel {

void add_annotation_rewriting(ClassBuilder &) {}

} // namespace zel
