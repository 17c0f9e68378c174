// ZELCython: translates the .pyx text to C++ in memory through the Cython compiler's
// pipeline, and maps the compiler's line references back to the script.
#include "emit/emit_classes.hpp"

namespace zel {

py::object make_zel_cython(const py::dict &g) {
    ClassBuilder c(g, "ZELCython");
    py::object modulenode = py::module_::import("Cython.Compiler.ModuleNode");
    py::object pipeline = py::module_::import("Cython.Compiler.Pipeline");
    py::object errors = py::module_::import("Cython.Compiler.Errors");
    c.attr("ModuleNode", modulenode);
    c.attr("Pipeline", pipeline);
    c.attr("Errors", errors);
    c.attr("CompileError", errors.attr("CompileError"));
    py::module_ main = py::module_::import("Cython.Compiler.Main");
    c.attr("Context", main.attr("Context"));
    c.attr("CompilationSource", main.attr("CompilationSource"));
    c.attr("create_default_resultobj", main.attr("create_default_resultobj"));
    py::module_ options = py::module_::import("Cython.Compiler.Options");
    c.attr("CompilationOptions", options.attr("CompilationOptions"));
    c.attr("default_options", options.attr("default_options"));
    py::object file_source = py::module_::import("Cython.Compiler.Scanning").attr("FileSourceDescriptor");
    c.attr("FileSourceDescriptor", file_source);
    c.attr("EncodedString", py::module_::import("Cython.Compiler.StringEncoding").attr("EncodedString"));

    py::object exception = py::reinterpret_borrow<py::object>(PyExc_Exception);
    py::object string_io = g["io"].attr("StringIO");
    c.attr("CompileError", c.nested("CompileError", py::make_tuple(exception)).build());
    c.attr("_EncodedStringIO", c.nested("_EncodedStringIO", py::make_tuple(string_io)).build());
    c.attr("_InMemorySource", c.nested("_InMemorySource", py::make_tuple(file_source)).build());
    ClassBuilder capture = c.nested("_CaptureBuffer", py::make_tuple(string_io));
    capture.attr("all_captured", py::dict());
    c.attr("_CaptureBuffer", capture.build());
    return c.build();
}

} // namespace zel
