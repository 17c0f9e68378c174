#include "support/script_fault.hpp"

#include <stdexcept>

namespace zel {

void exit_with_script_fault() {
    py::module_::import("sys").attr("exit")(10);
    // sys.exit always raises; a replaced one that returns is a broken interpreter state.
    throw std::logic_error("sys.exit returned");
}

} // namespace zel
