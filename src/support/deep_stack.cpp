// A worker thread for deep syntax trees: its stack, its recursion limit, and the exceptions
// that cross back to the caller.
#include "support/deep_stack.hpp"
#include "support/pyast.hpp"

#include <pybind11/pybind11.h>

namespace zel {
namespace {

namespace py = pybind11;
using namespace pybind11::literals;

// A few kilobytes of stack for every frame the recursion limit admits: the limit, not the
// stack, ends a recursion that runs away.
constexpr long deep_stack_bytes = 256L * 1024 * 1024;
constexpr int deep_recursion_limit = 50000;

[[noreturn]] void raise_again(const py::object &exception) {
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(exception.ptr())), exception.ptr());
    throw py::error_already_set();
}

// A started daemon thread running `target`, or None when the platform refuses one.
py::object start_thread(const py::module_ &threading, const py::object &target) {
    py::object size = threading.attr("stack_size")();
    try {
        threading.attr("stack_size")(deep_stack_bytes);
        py::object thread = threading.attr("Thread")("target"_a = target, "daemon"_a = true);
        thread.attr("start")();
        threading.attr("stack_size")(size);
        return thread;
    } catch (py::error_already_set &e) {
        threading.attr("stack_size")(size);
        if (!e.matches(PyExc_ValueError) && !e.matches(PyExc_RuntimeError))
            throw;
        return py::none();
    }
}

} // namespace

void run_with_deep_stack(const std::function<void()> &work) {
    py::module_ threading = py::module_::import("threading");
    py::module_ sys = py::module_::import("sys");
    py::object failure = py::none();
    // A C++ exception leaves `body` as a Python exception, which `target` keeps for the caller.
    py::cpp_function body([&work]() { work(); });
    py::cpp_function target([&body, &failure]() {
        try {
            body();
        } catch (py::error_already_set &e) {
            failure = caught_exception(e);
        }
    });

    py::object limit = sys.attr("getrecursionlimit")();
    if (limit.cast<int>() < deep_recursion_limit)
        sys.attr("setrecursionlimit")(deep_recursion_limit);
    py::object thread = start_thread(threading, target);
    if (thread.is_none()) {
        sys.attr("setrecursionlimit")(limit);
        work();
        return;
    }
    // The thread uses this frame's objects: it is waited for however the wait is broken off.
    py::object pending = py::none();
    for (;;) {
        try {
            thread.attr("join")();
            break;
        } catch (py::error_already_set &e) {
            pending = caught_exception(e);
            PyThreadState_SetAsyncExc(thread.attr("ident").cast<unsigned long>(),
                                      PyExc_KeyboardInterrupt);
        }
    }
    sys.attr("setrecursionlimit")(limit);
    if (!pending.is_none())
        raise_again(pending);
    if (!failure.is_none())
        raise_again(failure);
}

} // namespace zel
