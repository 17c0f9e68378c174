// A worker thread for deep syntax trees: its stack, its recursion limit, and the exceptions
// that cross back to the caller.
#include "support/deep_stack.hpp"
#include "support/objects.hpp"

#include <pybind11/pybind11.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace zel {
namespace {

namespace py = pybind11;
using namespace pybind11::literals;

// A few kilobytes of stack for every frame the recursion limit admits: the limit, not the
// stack, ends a recursion that runs away.
constexpr long deep_stack_bytes = 256L * 1024 * 1024;
constexpr int deep_recursion_limit = 50000;

// How often the waiting thread looks for a signal to handle.
constexpr std::chrono::milliseconds signal_poll(50);

[[noreturn]] void raise_again(const py::object &exception) {
    raise_error(exception);
}

// What the worker hands back. It is shared, so that the worker's last steps never touch a
// caller that has gone. The interpreter's own `join` is no such witness: on 3.11 an interrupted
// `join` marks a thread that still runs as stopped, and the next one returns at once.
struct Completion {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    py::object failure = py::none();
};

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

// Waits for the worker while this thread handles its signals. The first exception a signal
// handler raises (KeyboardInterrupt for Ctrl-C) is passed on to the worker and returned once
// the worker has ended; None when nothing interrupted the wait.
py::object wait_for(Completion &completion, unsigned long worker) {
    py::object pending = py::none();
    for (;;) {
        {
            py::gil_scoped_release released;
            std::unique_lock<std::mutex> lock(completion.mutex);
            completion.ended.wait_for(lock, signal_poll, [&] { return completion.done; });
        }
        // The worker sets `done` holding the interpreter lock, as this thread holds it here:
        // an exception is never sent to a worker that has ended.
        if (completion.done)
            return pending;
        if (PyErr_CheckSignals() != 0) {
            py::error_already_set interrupt;
            if (pending.is_none())
                pending = caught_exception(interrupt);
            PyThreadState_SetAsyncExc(worker, PyExc_KeyboardInterrupt);
        }
    }
}

} // namespace

void run_with_deep_stack(const std::function<void()> &work) {
    py::module_ threading = py::module_::import("threading");
    py::module_ sys = py::module_::import("sys");
    auto completion = std::make_shared<Completion>();
    // A C++ exception leaves `body` as a Python exception, which `target` keeps for the caller.
    py::object body = py::cpp_function([&work]() { work(); });
    py::cpp_function target([body, completion]() {
        try {
            body();
        } catch (py::error_already_set &e) {
            completion->failure = caught_exception(e);
        }
        // An interrupt sent after the work ended is dropped: it has nothing left to stop.
        PyThreadState_SetAsyncExc(PyThread_get_thread_ident(), nullptr);
        std::lock_guard<std::mutex> lock(completion->mutex);
        completion->done = true;
        completion->ended.notify_all();
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
    py::object pending = wait_for(*completion, thread.attr("ident").cast<unsigned long>());
    sys.attr("setrecursionlimit")(limit);
    if (!pending.is_none())
        raise_again(pending);
    if (!completion->failure.is_none())
        raise_again(completion->failure);
}

} // namespace zel
