// ZELConst: the fixed texts and tables that the three subsystems share.
#include "driver/driver_classes.hpp"
#include "restructure/generated_names.hpp"
#include "support/pyast.hpp"

namespace zel {
namespace {

py::dict parameters(py::list args, py::list defaults, py::list keyword_only) {
    py::dict description;
    description["args"] = std::move(args);
    description["defaults"] = std::move(defaults);
    description["keyword_only"] = std::move(keyword_only);
    return description;
}

} // namespace

py::object make_zel_const(const Globals &g) {
    ClassBuilder consts(g, "ZELConst");
    py::object ast_none = constant(py::none());
    consts.attr("ast_None", ast_none);
    consts.attr("cpp_prefix", py::str("#pragma warning(disable: 4244 4996 4018 4101 4305 4700 4701 "
                                      "4702 4715 4800 4819 4551)\n"));
    py::str zelrange(prange_alias);
    consts.attr("zelrange", zelrange);
    py::list pyx_prefix;
    pyx_prefix.append(py::str("from cython.parallel import prange as ") + py::str(zelrange));
    pyx_prefix.append("import openmp");
    pyx_prefix.append("r(0,nogil=True,num_threads=openmp.omp_get_max_threads(),schedule='guided')");
    consts.attr("pyx_prefix", pyx_prefix);
    consts.attr("pattern1", py::str("#lInE"));
    consts.attr("pattern2", py::str("EnIl"));
    consts.attr("pattern3", py::str("Cython file:"));

    py::list dtype_defaults;
    dtype_defaults.append(false);
    dtype_defaults.append(py::none());
    dtype_defaults.append(py::none());
    consts.attr("param_numpy_dtype", parameters(str_list({"dtype", "align", "copy", "metadata"}),
                                                dtype_defaults, py::list()));
    consts.attr("param_numpy_zeros", parameters(str_list({"shape", "dtype", "order"}),
                                                str_list({"numpy.float64", "C"}), py::list()));

    py::list genfromtxt_args = str_list(
        {"fname",          "dtype",       "comments",       "delimiter",      "skip_header",
         "skip_footer",    "converters",  "missing_values", "filling_values", "usecols",
         "names",          "excludelist", "deletechars",    "replace_space",  "autostrip",
         "case_sensitive", "defaultfmt",  "unpack",         "usemask",        "loose",
         "invalid_raise",  "max_rows",    "encoding"});
    // Every parameter from `comments` on has a default: one shared None node in each place.
    py::list genfromtxt_defaults;
    for (size_t i = 2; i < genfromtxt_args.size(); ++i)
        genfromtxt_defaults.append(ast_none);
    consts.attr("param_numpy_genfromtxt",
                parameters(genfromtxt_args, genfromtxt_defaults, str_list({"ndmin", "like"})));
    return consts.build();
}

} // namespace zel
