// ZELProjection: orders and groups the statements of a projection loop by dependency.
#include "restructure/restructure_classes.hpp"

namespace zel {

py::object make_zel_projection(const Globals &g) {
    ClassBuilder projection(g, "ZELProjection");
    return projection.build();
}

} // namespace zel
