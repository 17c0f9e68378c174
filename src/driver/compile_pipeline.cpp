#include "driver/driver_classes.hpp"

namespace zel {

void add_compile(ClassBuilder &) {}

} // namespace zel
