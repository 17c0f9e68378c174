// Declaration emitters: tagged annotated assignments and assignment targets become `cdef`
// declarations, tagged values take their address, and fully typed functions become
// `cdef ... nogil` C functions with typed parameters, `cpdef` where the script also uses them
// as Python function objects.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/tags.hpp"
#include "support/objects.hpp"
#include "support/pyast.hpp"
#include "support/text.hpp"
#include "support/text_template.hpp"
#include "support/with_context.hpp"

#include <sstream>

namespace zel {
namespace {

using namespace pybind11::literals;
using emitter::traverse;
using emitter::write;

// The C type text of a node tagged for declaration, else None.
py::object declared_type(const py::object &zel_ast, const py::handle &node) {
    if (!truthy(get_tag(node, tag_name(zel_ast, cdef_tag))))
        return py::none();
    py::object dt = get_tag(node, tag_name(zel_ast, dtype_tag));
    return truthy(dt) ? dt : py::none();
}

void write_value(const py::object &self, const py::object &zel_ast, const py::object &value) {
    if (truthy(get_tag(value, tag_name(zel_ast, reference_tag))))
        write(self, py::str("&"));
    traverse(self, value);
}

// In a function written for module-level statements the names are declared at module level,
// and an annotation would make a local: annotated assignments there only assign.
bool in_module_function(const py::object &self) {
    return truthy(self.attr("_in_module_function"));
}

void visit_AnnAssign(const Globals &g, const py::object &self, const py::object &node) {
    py::object zel_ast = g["ZELAst"];
    py::object target = node.attr("target");
    py::object value = node.attr("value");
    if (in_module_function(self)) {
        emitter::fill(self, truthy(value) ? "" : "pass");
        if (truthy(value)) {
            traverse(self, target);
            write(self, py::str(" = "));
            write_value(self, zel_ast, value);
        }
        return;
    }
    emitter::fill(self);
    py::object dt = declared_type(zel_ast, node);
    if (!dt.is_none()) {
        write(self, py::str("cdef ") + py::str(dt) + py::str(" "));
        traverse(self, target);
        if (truthy(value)) {
            write(self, py::str(" = "));
            write_value(self, zel_ast, value);
        }
        return;
    }
    bool parenthesised = !truthy(node.attr("simple")) && is_a(target, "Name");
    with_context(emitter::delimit_if(self, "(", ")", parenthesised),
                 [&] { traverse(self, target); });
    write(self, py::str(" : "));
    traverse(self, node.attr("annotation"));
    if (truthy(value)) {
        write(self, py::str(" = "));
        traverse(self, value);
    }
}

// `a = b = v` stays one cascaded assignment: `v` is evaluated once and each target takes it
// converted to its own type, as every target gets the one value in Python. A lone target
// carries its declaration; several are declared on lines of their own before it.
void visit_Assign(const Globals &g, const py::object &self, const py::object &node) {
    py::object zel_ast = g["ZELAst"];
    py::list targets = node.attr("targets");
    bool declare = !in_module_function(self);
    bool cascaded = targets.size() > 1;
    if (declare && cascaded) {
        for (py::handle target : targets) {
            py::object dt = declared_type(zel_ast, target);
            if (dt.is_none())
                continue;
            emitter::fill(self, py::str("cdef ") + py::str(dt) + py::str(" "));
            traverse(self, target);
        }
    }
    emitter::fill(self);
    for (py::handle target : targets) {
        py::object dt = declared_type(zel_ast, target);
        if (declare && !cascaded && !dt.is_none())
            write(self, py::str("cdef ") + py::str(dt) + py::str(" "));
        traverse(self, target);
        write(self, py::str(" = "));
    }
    write_value(self, zel_ast, node.attr("value"));
}

// Typed parameter lists hold only ordinary parameters, each written as C type and name.
// Every other list is the host's, so positional-only, starred, keyword-only and `**`
// parameters of untyped functions and lambdas are kept.
void visit_arguments(const Globals &g, const py::object &self, const py::object &node) {
    py::object zel_ast = g["ZELAst"];
    py::object didx = tag_name(zel_ast, dtype_tag);
    if (!truthy(get_tag(node, didx))) {
        emitter::host_visit_arguments(g, self, node);
        return;
    }
    py::list args = node.attr("args");
    py::list defaults = node.attr("defaults");
    // Defaults align to the end of the list; signed, as they may also cover positional-only
    // parameters, which are not written here.
    auto count = static_cast<py::ssize_t>(args.size());
    auto first_default = count - static_cast<py::ssize_t>(defaults.size());
    for (py::ssize_t i = 0; i < count; ++i) {
        if (i > 0)
            write(self, py::str(", "));
        py::handle arg = args[static_cast<size_t>(i)];
        write(self, py::str(get_tag(arg, didx)) + py::str(" ") + py::str(arg.attr("arg")));
        if (i >= first_default) {
            write(self, py::str("="));
            traverse(self, defaults[static_cast<size_t>(i - first_default)]);
        }
    }
}

// A C function of the script recurses in C frames, which the interpreter's recursion limit does
// not see: each tests on entry that its thread's stack has room left (an eighth of it, taken
// from the thread's own stack bounds the first time the thread asks) and otherwise raises
// RecursionError there, as the interpreter does before its stack runs out. The floor is a
// thread's own (OpenMP workers have smaller stacks than the main thread), kept where the test
// reads it with one load.
constexpr const char *stack_test_runtime = R"pyx(
cdef extern from *:
    "#include <pthread.h>\nstatic __thread char *_zel_stack_floor __attribute__((tls_model(\"initial-exec\"))); static char *_zel_find_stack_floor(void) { pthread_attr_t attr; void *base = 0; size_t size = 0; if (pthread_getattr_np(pthread_self(), &attr) == 0) { pthread_attr_getstack(&attr, &base, &size); pthread_attr_destroy(&attr); } _zel_stack_floor = base ? (char *)base + size / 8 : (char *)1; return _zel_stack_floor; } static inline int _zel_stack_low(void) { char *limit = _zel_stack_floor; if (__builtin_expect(limit == 0, 0)) limit = _zel_find_stack_floor(); char here; return __builtin_expect(&here < limit, 0); } static int _zel_recursion_error(void) { PyGILState_STATE state = PyGILState_Ensure(); PyErr_SetString(PyExc_RecursionError, \"maximum recursion depth exceeded\"); PyGILState_Release(state); return -1; }"
    bint ${stack_low} "_zel_stack_low"() noexcept nogil
    int ${recursion_error} "_zel_recursion_error"() except -1 nogil
)pyx";

void write_stack_test(const py::object &self) {
    if (truthy(self.attr("_stack_test_written")))
        return;
    std::istringstream lines(fill_template(
        stack_test_runtime, {{"stack_low", stack_low}, {"recursion_error", recursion_error}}));
    for (std::string line; std::getline(lines, line);)
        emitter::fill(self, line);
    self.attr("_stack_test_written") = true;
}

// A C function's first statement, after its docstring: the stack test that raises RecursionError
// before a runaway recursion overruns the thread's stack. It stands on the `def` line, where the
// traceback of the error then points.
void test_stack_on_entry(const py::object &self, const py::object &node) {
    py::object test = parse_statement(py::str("if {}(): {}()").format(stack_low, recursion_error));
    py::module_::import("ast").attr("increment_lineno")(test, py::object(node.attr("lineno")) -
                                                                  py::int_(1));
    py::list body = node.attr("body");
    body.insert(emitter::raw_docstring(self, node).is_none() ? 0 : 1, test);
}

// `fill_suffix`, as the host names it, is what the line opens with before the function's name:
// "def", "async def", or "cdef <type>" or "cpdef <type>" for a C function, which runs without
// the interpreter until the compiler finds that its body needs it (ZELCython.with_interpreter).
// Any other function is the host's to write, so its form follows the host's; only its
// type-parameter list (3.12 on) is left out, which Cython does not parse. The parameters name
// types for readers and checkers: the compiled function runs the same without them.
void _function_helper(const Globals &g, const py::object &self, const py::object &node,
                      const std::string &fill_suffix) {
    bool c_function = starts_with(fill_suffix, "cdef ") || starts_with(fill_suffix, "cpdef ");
    if (!c_function) {
        if (has_attr(node, "type_params"))
            node.attr("type_params") = py::list();
        emitter::host_function_helper(g, self, node, fill_suffix);
        return;
    }
    write_stack_test(self);
    for (py::handle decorator : node.attr("decorator_list")) {
        emitter::fill(self, "@");
        traverse(self, decorator);
    }
    emitter::fill(self, fill_suffix + " " + text_of(node.attr("name")));
    write(self, py::str("("));
    traverse(self, node.attr("args"));
    write(self, py::str(") nogil"));
    test_stack_on_entry(self, node);
    py::object block = emitter::block(self, "extra"_a = emitter::type_comment(self, node));
    with_context(block, [&] { emitter::docstring_and_body(self, node); });
}

void visit_FunctionDef(const Globals &g, const py::object &self, const py::object &node) {
    py::object dt = get_tag(node, tag_name(g["ZELAst"], dtype_tag));
    std::string fill_suffix = "def";
    if (truthy(dt)) {
        bool python_object = truthy(get_tag(node, "_pyobject_"));
        fill_suffix = (python_object ? "cpdef " : "cdef ") + text_of(dt);
        node.attr("returns") = py::none(); // a C function has no return annotation
    }
    emitter::function_helper(self, node, fill_suffix);
}

} // namespace

void add_declaration_emitters(ClassBuilder &unparser) {
    unparser.method("visit_AnnAssign", visit_AnnAssign, py::arg("self"), py::arg("node"));
    unparser.method("visit_Assign", visit_Assign, py::arg("self"), py::arg("node"));
    unparser.method("visit_arguments", visit_arguments, py::arg("self"), py::arg("node"));
    unparser.method("visit_FunctionDef", visit_FunctionDef, py::arg("self"), py::arg("node"));
    unparser.method("_function_helper", _function_helper, py::arg("self"), py::arg("node"),
                    py::arg("fill_suffix"));
}

} // namespace zel
