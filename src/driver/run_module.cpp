#include "driver/driver_classes.hpp"

namespace zel {

void add_run(ClassBuilder &) {}

} // namespace zel
