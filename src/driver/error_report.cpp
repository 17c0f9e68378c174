#include "driver/driver_classes.hpp"

namespace zel {

void add_fatal_msg(ClassBuilder &) {}

} // namespace zel
