#include "restructure/restructure_classes.hpp"

namespace zel {

void add_records(ClassBuilder &) {}

} // namespace zel
