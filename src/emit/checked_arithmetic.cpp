// ZELCython._CheckedArithmetic: a stage of the compiler's pipeline that gives C arithmetic the
// errors Python raises where C would go on with a wrong value. It runs on the analysed tree,
// where every expression has its C type, and replaces
// - a float converted to a C integer (`k: int = int(d)`): NaN raises ValueError, infinity and
//   values out of the integer's range raise OverflowError;
// - a C float power: 0.0 to a negative power raises ZeroDivisionError, a finite power that
//   overflows raises OverflowError;
// - a C integer shift: a negative count raises ValueError; a count past the width gives what
//   the wrapped result of Python's shift is (0 to the left, the sign to the right), where C's
//   is undefined.
// Each becomes a call of a small inline helper whose hot path is the C operation and one
// predictable test; only the failing path takes the interpreter lock, to set the error, so
// the helpers serve compiled functions and parallel loops alike. The compiler's own error
// check after the call reports the error on the script's line.
//
// What this relies on in the compiler: `PythonCapiCallNode` calls a C function of a given
// `CFuncType` whose `exception_value` and `exception_check` make the caller test for an
// error; `UtilityCode` carries the helper's text into the module.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "restructure/generated_names.hpp"
#include "support/objects.hpp"
#include "support/text_template.hpp"

#include <string>

namespace zel {
namespace {

// The C spelling of a compiler type, as a declaration without a name.
std::string c_type(const py::handle &type) {
    return text_of(type.attr("empty_declaration_code")());
}

// Sets a Python error from code that may run without the interpreter lock.
constexpr const char *raise_head = "static void ${raise}(PyObject *type, const char *message)";
constexpr const char *raise_body = R"c(
${head} {
    PyGILState_STATE gil = PyGILState_Ensure();
    PyErr_SetString(type, message);
    PyGILState_Release(gil);
}
)c";

py::object raise_utility() {
    std::string head = fill_template(raise_head, {{"raise", c_raise}});
    return compiler_module("Code").attr("UtilityCode")(
        py::arg("proto") = head + ";",
        py::arg("impl") = fill_template(raise_body, {{"head", head}}),
        py::arg("name") = "ZelRaise");
}

// The value a helper returns with an error set: the lowest value of a signed type, the
// highest of an unsigned one. A result equal to it makes the caller look for an error, so it
// is one that correct results rarely take.
std::string error_value(const py::handle &type) {
    return fill_template(truthy(type.attr("signed"))
                             ? "((${type})-ldexp(1.0, (int)sizeof(${type}) * 8 - 1))"
                             : "((${type})-1)",
                         {{"type", c_type(type)}});
}

// The call of `name(args)` that replaces `node`: a C function of the node's type that sets
// an error and returns `error` when it fails.
py::object helper_call(const py::object &node, const std::string &name, const py::list &args,
                       const py::list &parameter_types, const std::string &error,
                       const std::string &proto, const std::string &impl) {
    py::module_ types = compiler_module("PyrexTypes");
    py::list parameters;
    for (size_t i = 0; i < args.size(); ++i)
        parameters.append(
            types.attr("CFuncTypeArg")("arg" + std::to_string(i), parameter_types[i], py::none()));
    py::object function_type =
        types.attr("CFuncType")(node.attr("type"), parameters, py::arg("exception_value") = error,
                                py::arg("exception_check") = true, py::arg("nogil") = true);
    py::list requires;
    requires.append(raise_utility());
    py::object utility = compiler_module("Code").attr("UtilityCode")(
        py::arg("proto") = proto, py::arg("impl") = impl, py::arg("name") = name,
        py::arg("requires") = requires);
    return compiler_module("ExprNodes")
        .attr("PythonCapiCallNode")(node.attr("pos"), name, function_type,
                                    py::arg("utility_code") = utility, py::arg("args") = args,
                                    py::arg("is_temp") = true);
}

// helper_call for a binary operation: both operands, of `type`, are the helper's parameters, and
// `head` its prototype.
py::object binary_helper_call(const py::object &node, const py::object &type,
                              const std::string &name, const std::string &error,
                              const std::string &head, const std::string &impl) {
    py::list args, parameter_types;
    args.append(node.attr("operand1"));
    args.append(node.attr("operand2"));
    parameter_types.append(type);
    parameter_types.append(type);
    return helper_call(node, name, args, parameter_types, error, head + ";", impl);
}

std::string prototype(const std::string &result, const std::string &name,
                      const std::string &parameters) {
    return fill_template("static CYTHON_INLINE ${result} ${name}(${parameters})",
                         {{"result", result}, {"name", name}, {"parameters", parameters}});
}

bool is_c_int(const py::handle &type) {
    return truthy(type.attr("is_int")) && !truthy(type.attr("is_pyobject"));
}

bool is_c_float(const py::handle &type) {
    return truthy(type.attr("is_float")) && !truthy(type.attr("is_pyobject"));
}

// `int(d)` assigned to a C integer: the compiler's cast, once the value is known to fit.
constexpr const char *conversion_body = R"c(
${head} {
    ${from} whole = trunc${math}(value);
    if (likely(whole >= ${low} && whole < ${high}))
        return (${to})whole;
    if (value != value)
        ${raise}(PyExc_ValueError, "cannot convert float NaN to integer");
    else if (value - value != value - value)
        ${raise}(PyExc_OverflowError, "cannot convert float infinity to integer");
    else
        ${raise}(PyExc_OverflowError, "value too large to convert to ${to_name}");
    return ${error};
}
)c";

py::object checked_conversion(const py::object &node) {
    py::object operand = node.attr("operand");
    py::object to = node.attr("type");
    py::object from = operand.attr("type");
    std::string t = c_type(to);
    std::string f = c_type(from);
    std::string name = c_helper_prefix + text_of(from.attr("specialization_name")()) + "_to_" +
                       text_of(to.attr("specialization_name")());
    // Both bounds are powers of two, exact in every float type; the truncated value is tested,
    // so that a value just below the lowest integer still converts.
    std::string bits = "(int)sizeof(" + t + ") * 8";
    std::string low = truthy(to.attr("signed")) ? "-ldexp(1.0, " + bits + " - 1)" : "0.0";
    std::string high =
        truthy(to.attr("signed")) ? "ldexp(1.0, " + bits + " - 1)" : "ldexp(1.0, " + bits + ")";
    std::string head = prototype(t, name, f + " value");
    std::string impl =
        fill_template(conversion_body, {{"head", head},
                                        {"from", f},
                                        {"to", t},
                                        {"math", text_of(from.attr("math_h_modifier"))},
                                        {"low", low},
                                        {"high", high},
                                        {"raise", c_raise},
                                        {"to_name", text_of(to)},
                                        {"error", error_value(to)}});
    py::list args, parameter_types;
    args.append(operand);
    parameter_types.append(from);
    return helper_call(node, name, args, parameter_types, error_value(to), head + ";", impl);
}

// `x ** y` of C floats: the C power, with Python's errors where its result is infinite.
constexpr const char *power_body = R"c(
${head} {
    ${type} power = pow${math}(base, exponent);
    if (unlikely(power == HUGE_VAL || power == -HUGE_VAL) &&
        base - base == 0 && exponent - exponent == 0) {
        if (base == 0)
            ${raise}(PyExc_ZeroDivisionError, "0.0 cannot be raised to a negative power");
        else
            ${raise}(PyExc_OverflowError, "(34, 'Numerical result out of range')");
        return HUGE_VAL;
    }
    return power;
}
)c";

py::object checked_power(const py::object &node) {
    py::object type = node.attr("type");
    std::string t = c_type(type);
    std::string name = c_helper_prefix + ("pow_" + text_of(type.attr("specialization_name")()));
    std::string head = prototype(t, name, t + " base, " + t + " exponent");
    std::string impl = fill_template(power_body, {{"head", head},
                                                  {"type", t},
                                                  {"math", text_of(type.attr("math_h_modifier"))},
                                                  {"raise", c_raise}});
    return binary_helper_call(node, type, name, "HUGE_VAL", head, impl);
}

// `x << n` and `x >> n` of C integers.
constexpr const char *shift_body = R"c(
${head} {
    if (likely(count >= 0 && count < (${type})(sizeof(${type}) * 8)))
        return ${shifted};
    if (count < 0) {
        ${raise}(PyExc_ValueError, "negative shift count");
        return ${error};
    }
    return ${past_width};
}
)c";

py::object checked_shift(const py::object &node, bool left) {
    py::object type = node.attr("type");
    std::string t = c_type(type);
    std::string name = c_helper_prefix + std::string(left ? "lshift_" : "rshift_") +
                       text_of(type.attr("specialization_name")());
    std::string head = prototype(t, name, t + " value, " + t + " count");
    std::string impl = fill_template(
        shift_body, {{"head", head},
                     {"type", t},
                     {"shifted", left ? "(" + t + ")(value << count)" : "value >> count"},
                     {"raise", c_raise},
                     {"error", error_value(type)},
                     {"past_width", left ? "0" : "value < 0 ? -1 : 0"}});
    return binary_helper_call(node, type, name, error_value(type), head, impl);
}

py::object visit_TypecastNode(const py::object &self, const py::object &node) {
    emitter::visit_children(self, node);
    if (is_c_int(node.attr("type")) && is_c_float(node.attr("operand").attr("type")))
        return checked_conversion(node);
    return node;
}

py::object visit_PowNode(const py::object &self, const py::object &node) {
    emitter::visit_children(self, node);
    if (is_c_float(node.attr("type")) && !truthy(node.attr("type").attr("is_complex")))
        return checked_power(node);
    return node;
}

py::object visit_IntBinopNode(const py::object &self, const py::object &node) {
    emitter::visit_children(self, node);
    std::string op = text_of(node.attr("operator"));
    if ((op == "<<" || op == ">>") && is_c_int(node.attr("type")))
        return checked_shift(node, op == "<<");
    return node;
}

} // namespace

py::object make_checked_arithmetic(const Globals &g, const py::object &) {
    ClassBuilder checked = compiler_stage(g, "_CheckedArithmetic");
    checked.method("visit_TypecastNode", visit_TypecastNode, py::arg("self"), py::arg("node"));
    checked.method("visit_PowNode", visit_PowNode, py::arg("self"), py::arg("node"));
    checked.method("visit_IntBinopNode", visit_IntBinopNode, py::arg("self"), py::arg("node"));
    return checked.build();
}

} // namespace zel
