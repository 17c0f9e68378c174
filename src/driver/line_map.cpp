#include "driver/driver_classes.hpp"

namespace zel {

void add_unparse(ClassBuilder &) {}

} // namespace zel
