#include "driver/driver_classes.hpp"

namespace zel {

void add_prepare_path(ClassBuilder &) {}

} // namespace zel
