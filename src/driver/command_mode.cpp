#include "driver/driver_classes.hpp"

namespace zel {

void add_module_command(ClassBuilder &) {}

} // namespace zel
