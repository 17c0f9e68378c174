// ZELCython._SignalChecks: a stage of the compiler's pipeline. The interpreter notices a signal
// (Ctrl-C) between two of its instructions; compiled code runs no instructions of it, so a loop
// of the script ran on after SIGINT. A loop that runs with the interpreter lock (at module
// level, in a function that is not a C function) looks for a pending signal once every 4096
// iterations, through one counter and a predictable branch, and raises what its handler raises
// (KeyboardInterrupt) on the loop's line; a loop over a C range whose body is C arithmetic
// alone, which the C compiler vectorises, is left to the loop around it; a parallel loop, which
// runs without the lock, looks once when it ends. Code without the lock (a C function, a parallel
// body) is interrupted once it returns to such code.
//
// What this relies on in the compiler: loops are `WhileStatNode`, `ForInStatNode` and
// `ForFromStatNode` with a `body`; code runs without the lock in a function whose `local_scope`
// is `nogil`, in a `GILStatNode` whose `state` is "nogil" and in a `ParallelRangeNode` whose
// `nogil` is set; `PythonCapiCallNode` calls a C function of a given `CFuncType`, whose error
// value makes the caller test for an error; `UtilityCode` carries the helper's text.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "restructure/generated_names.hpp"
#include "support/objects.hpp"
#include "support/text_template.hpp"

#include <string>

namespace zel {
namespace {

// The stage's attribute that says whether the code being visited runs without the lock.
constexpr const char *lock_state = "_zel_nogil";

// Looks for a pending signal at once, or on every 4096th call.
constexpr const char *checks_head = R"c(
static CYTHON_INLINE int ${every_so_often}(void);
static CYTHON_INLINE int ${at_once}(void);)c";
constexpr const char *checks_body = R"c(
static unsigned int __Pyx_zel_ticks = 0;
static CYTHON_INLINE int ${at_once}(void) { return PyErr_CheckSignals(); }
static CYTHON_INLINE int ${every_so_often}(void) {
    if (likely(++__Pyx_zel_ticks & 4095u))
        return 0;
    return PyErr_CheckSignals();
}
)c";

py::object check_utility() {
    TemplateValues names = {{"every_so_often", c_check_signals}, {"at_once", c_check_signals_now}};
    return compiler_module("Code").attr("UtilityCode")(
        py::arg("proto") = fill_template(checks_head, names),
        py::arg("impl") = fill_template(checks_body, names), py::arg("name") = "ZelSignalChecks");
}

// The statement `check()` at the place of `at`.
py::object check_statement(const py::object &at, const char *check) {
    py::module_ types = compiler_module("PyrexTypes");
    py::object function_type = types.attr("CFuncType")(types.attr("c_int_type"), py::list(),
                                                       py::arg("exception_value") = "-1",
                                                       py::arg("exception_check") = true);
    py::object call =
        compiler_module("ExprNodes")
            .attr("PythonCapiCallNode")(at.attr("pos"), check, function_type,
                                        py::arg("utility_code") = check_utility(),
                                        py::arg("args") = py::list(), py::arg("is_temp") = true);
    return compiler_module("Nodes").attr("ExprStatNode")(at.attr("pos"), py::arg("expr") = call);
}

// `first` and then `second`, as one statement.
py::object in_order(const py::object &first, const py::object &second) {
    py::list stats;
    stats.append(first);
    stats.append(second);
    return compiler_module("Nodes").attr("StatListNode")(first.attr("pos"),
                                                         py::arg("stats") = stats);
}

bool without_lock(const py::object &self) {
    return truthy(self.attr(lock_state));
}

// Visits the children of `node` with `nogil` as the state of the interpreter lock.
void visit_with_lock_state(const py::object &self, const py::object &node, bool nogil) {
    py::object was = self.attr(lock_state);
    self.attr(lock_state) = py::bool_(nogil);
    emitter::visit_children(self, node);
    self.attr(lock_state) = was;
}

py::object visit_FuncDefNode(const py::object &self, const py::object &node) {
    py::object scope = attr_or(node, "local_scope");
    visit_with_lock_state(self, node, !scope.is_none() && truthy(attr_or(scope, "nogil")));
    return node;
}

py::object visit_GILStatNode(const py::object &self, const py::object &node) {
    visit_with_lock_state(self, node, py::str(node.attr("state")).equal(py::str("nogil")));
    return node;
}

py::object visit_ParallelRangeNode(const py::object &self, const py::object &node) {
    bool nogil = without_lock(self);
    visit_with_lock_state(self, node, nogil || truthy(node.attr("nogil")));
    if (nogil)
        return node;
    return in_order(node, check_statement(node, c_check_signals_now));
}

bool is_loop(const py::handle &node) {
    py::module_ nodes = compiler_module("Nodes");
    for (const char *kind : {"WhileStatNode", "ForInStatNode", "ForFromStatNode"})
        if (py::isinstance(node, nodes.attr(kind)))
            return true;
    return false;
}

// Whether the subtree holds a loop or a Python object.
bool loops_or_objects(const py::handle &node) {
    if (PyList_Check(node.ptr())) {
        for (py::handle item : node)
            if (loops_or_objects(item))
                return true;
        return false;
    }
    if (!py::isinstance(node, compiler_module("Nodes").attr("Node")))
        return false;
    if (is_loop(node))
        return true;
    py::object type = attr_or(node, "type");
    if (!type.is_none() && truthy(attr_or(type, "is_pyobject")))
        return true;
    for (py::handle name : node.attr("child_attrs")) {
        py::object child = attr_or(node, name);
        if (!child.is_none() && loops_or_objects(child))
            return true;
    }
    return false;
}

// A loop over a C range whose body is C arithmetic alone is left as it is, for the C compiler
// to vectorise: the loop around it looks once per iteration of its own.
py::object visit_loop(const py::object &self, const py::object &node) {
    emitter::visit_children(self, node);
    if (without_lock(self))
        return node;
    if (py::isinstance(node, compiler_module("Nodes").attr("ForFromStatNode")) &&
        !loops_or_objects(node.attr("body")))
        return node;
    node.attr("body") = in_order(check_statement(node, c_check_signals), node.attr("body"));
    return node;
}

py::object visit_ModuleNode(const py::object &self, const py::object &node) {
    visit_with_lock_state(self, node, false);
    return node;
}

} // namespace

py::object make_signal_checks(const Globals &g, const py::object &) {
    ClassBuilder stage = compiler_stage(g, "_SignalChecks");
    stage.attr(lock_state, py::bool_(false));
    stage.method("visit_ModuleNode", visit_ModuleNode, py::arg("self"), py::arg("node"));
    stage.method("visit_FuncDefNode", visit_FuncDefNode, py::arg("self"), py::arg("node"));
    stage.method("visit_GILStatNode", visit_GILStatNode, py::arg("self"), py::arg("node"));
    stage.method("visit_ParallelRangeNode", visit_ParallelRangeNode, py::arg("self"),
                 py::arg("node"));
    for (const char *loop : {"visit_WhileStatNode", "visit_ForInStatNode", "visit_ForFromStatNode"})
        stage.method(loop, visit_loop, py::arg("self"), py::arg("node"));
    return stage.build();
}

} // namespace zel
