// ZELCython: translates the .pyx text to C++ in memory through the Cython compiler's
// pipeline, and has the compiler's line references in it mapped back to the script.
//
// What this relies on in the Cython 3 compiler (checked for 3.0 and 3.3): the module node
// writes every output file through the module-level `ModuleNode.open_new_file` (a global
// looked up at call time, also when the module is compiled) and closes it when written;
// errors reported while `Errors.threadlocal.cython_errors_echo_file` is set are written there;
// `teardown_errors` leaves the error count in `num_errors` of the result object;
// `run_pipeline` reports the script's errors (a CompileError) itself and returns, so what it
// raises is a fault of the compiler or of one of the stages added here. The
// releases differ in how they read the source (`redirect_compiler_files` copes with both
// ways) and in where the generated text holds the file name (`rewrite_file_name`,
// cpp_line_rewrites.cpp). The
// pipeline holds a `TypeInference.MarkOverflowingArithmetic` stage that keeps its scope in
// `env`, and comprehensions with a scope of their own are `ScopedExprNode`s whose
// `has_local_scope` and `expr_scope` say so.
#include "emit/cpp_line_rewrites.hpp"
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "emit/interpreter_use.hpp"
#include "support/lazy_attribute.hpp"
#include "support/objects.hpp"
#include "support/text.hpp"
#include "support/with_context.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zel {
namespace {

using namespace pybind11::literals;

// Module-level names of the compiler replaced for one translation; each is put back on
// every way out, normal or not.
class ReplacedNames {
  public:
    ReplacedNames() = default;
    ReplacedNames(const ReplacedNames &) = delete;
    ReplacedNames &operator=(const ReplacedNames &) = delete;
    ~ReplacedNames() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            if (PyObject_SetAttrString(it->module.ptr(), it->name, it->value.ptr()) != 0)
                PyErr_WriteUnraisable(it->module.ptr());
    }
    void replace(const py::object &module, const char *name, const py::object &value) {
        saved_.push_back({module, name, module.attr(name)});
        module.attr(name) = value;
    }

  private:
    struct Saved {
        py::object module;
        const char *name;
        py::object value;
    };
    std::vector<Saved> saved_;
};

// The files the compiler touches for this translation: every output file it opens through
// the module node becomes a capture buffer, and the source is read from memory whichever
// way the release reads it. Cython 3.0 opens the main source by its file name through
// `Utils.open_source_file`, in `Context.parse` and for the source lines of its error
// messages; later releases ask the source descriptor for its file object.
void redirect_compiler_files(ReplacedNames &names, const py::object &cls,
                             const py::object &source_desc) {
    names.replace(
        cls.attr("ModuleNode"), "open_new_file",
        py::cpp_function([cls](py::object path) { return cls.attr("_CaptureBuffer")(path); },
                         py::arg("path")));
    py::object utils = py::module_::import("Cython.Utils");
    py::object open_source = utils.attr("open_source_file");
    py::object source_path = source_desc.attr("filename");
    names.replace(utils, "open_source_file",
                  py::cpp_function([open_source, source_path,
                                    source_desc](py::object path, py::args args, py::kwargs kw) {
                      if (path.equal(source_path))
                          return source_desc.attr("get_file_object")();
                      return open_source(path, *args, **kw);
                  }));
}

// The decimal number of a marker ("12", "-1"); nothing when the text is no number.
std::optional<py::int_> marker_number(const std::string &text) {
    std::size_t digits = (!text.empty() && text[0] == '-') ? 1 : 0;
    if (digits == text.size())
        return std::nullopt;
    for (std::size_t i = digits; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    return py::int_(py::str(text));
}

// Prints the compiler's error listing; a quoted .pyx line that ends in a line marker is
// printed as "**", the line and the script line number it came from.
void print_listing(const py::object &consts, const std::string &listing) {
    const std::string start = text_of(consts.attr("pattern1"));
    const std::string end = text_of(consts.attr("pattern2"));
    std::size_t from = 0;
    while (from <= listing.size()) {
        std::size_t stop = listing.find('\n', from);
        if (stop == std::string::npos)
            stop = listing.size();
        const std::string piece = listing.substr(from, stop - from);
        from = stop + 1;
        if (piece.empty())
            continue;
        std::size_t p = piece.find(start);
        if (p != std::string::npos && p > 0) {
            // The end is looked for after the start, so an "EnIl" earlier on the line
            // cannot cut the number.
            std::size_t q = piece.find(end, p + start.size());
            std::optional<py::int_> number;
            if (q != std::string::npos)
                number = marker_number(piece.substr(p + start.size(), q - p - start.size()));
            if (number) {
                if (py::int_(0) < *number)
                    print_line("**", piece, *number);
                continue;
            }
        }
        print_line(piece);
    }
}

// The C++ text: the first captured file whose path ends with ".cpp", else the longest one.
py::str main_text(const py::dict &captured) {
    py::str longest;
    std::size_t longest_size = 0;
    bool any = false;
    for (auto item : captured) {
        std::string path = text_of(item.first);
        if (ends_with(path, ".cpp"))
            return py::str(item.second);
        std::size_t size = py::len(item.second);
        if (!any || size > longest_size) {
            longest = py::str(item.second);
            longest_size = size;
            any = true;
        }
    }
    return longest;
}

// The compiler gives a name the script left untyped a C integer type only when the name
// takes part in no arithmetic that could overflow, so that it computes as Python computes. The
// stage that marks such names looks them up in the scope of the enclosing function, where the
// variable of a comprehension is not found: `[1 << x for x in range(30, 35)]` then shifts a C
// int. The stage is replaced by one that looks inside a comprehension in its own scope.
void mark_overflow_in_comprehensions(const py::object &cls, py::list &stages) {
    py::object marking = cls.attr("_OverflowMarking");
    py::object compilers_marking = marking.attr("__base__");
    for (size_t i = 0; i < stages.size(); ++i)
        if (py::isinstance(stages[i], compilers_marking))
            stages[i] = marking(stages[i].attr("context"));
}

// The checks go in once the compiler has turned calls such as `int(d)` into C operations,
// and loops over displays into loops over C arrays; the text truth test, once the tests are
// C tests; the one-character texts, once every literal has the type it is read as.
void add_stages_after_optimising_calls(const py::object &cls, py::list &stages) {
    py::object optimise_calls =
        py::module_::import("Cython.Compiler.Optimize").attr("OptimizeBuiltinCalls");
    for (size_t i = 0; i < stages.size(); ++i)
        if (py::isinstance(stages[i], optimise_calls)) {
            py::object context = stages[i].attr("context");
            stages.insert(i + 1, cls.attr("_CharLiterals")(context));
            stages.insert(i + 1, cls.attr("_TextTruth")(context));
            stages.insert(i + 1, cls.attr("_ElementStores")(context));
            stages.insert(i + 1, cls.attr("_SignalChecks")(context));
            stages.insert(i + 1, cls.attr("_WritableArrays")(context));
            stages.insert(i + 1, cls.attr("_CheckedArithmetic")(context));
            return;
        }
}

// The compiler's pipeline on the in-memory source, its errors echoed into `listing` and
// gathered in `errors`, to be read after the translation.
void run_translation(const py::object &cls, const py::object &context, const py::object &options,
                     const py::object &source, const py::object &result, const py::object &listing,
                     py::list &errors_held) {
    py::object pipeline = cls.attr("Pipeline");
    py::object errors = cls.attr("Errors");
    py::list stages = pipeline.attr("create_pyx_pipeline")(context, options, result);
    mark_overflow_in_comprehensions(cls, stages);
    add_stages_after_optimising_calls(cls, stages);
    context.attr("setup_errors")(options, result);
    errors.attr("init_thread")();
    errors.attr("open_listing_file")(py::none(), "echo_to_stderr"_a = false);
    errors.attr("threadlocal").attr("cython_errors_echo_file") = listing;
    py::object error;
    with_context(errors.attr("local_errors")(), [&] {
        errors_held = errors.attr("held_errors")();
        py::tuple outcome(pipeline.attr("run_pipeline")(stages, source, false));
        error = outcome[0];
    });
    context.attr("teardown_errors")(error, options, result);
}

// The .pyx lines without their line markers.
std::vector<std::string> unmarked_lines(const py::object &consts, const std::string &code) {
    const std::string marker = text_of(consts.attr("pattern1"));
    std::vector<std::string> lines;
    size_t from = 0;
    while (from <= code.size()) {
        size_t stop = code.find('\n', from);
        if (stop == std::string::npos)
            stop = code.size();
        std::string line = code.substr(from, stop - from);
        lines.push_back(line.substr(0, line.find(marker)));
        from = stop + 1;
    }
    return lines;
}

// Before the listing of a failed translation: C functions whose bodies need the interpreter
// are to be written with it (ZELCython.InterpreterNeeded names their headers), and a call of
// one of those from a parallel loop ends the build with one line.
void refuse_interpreter_use(const Globals &g, const py::object &cls, const py::str &code,
                            const py::object &line_map, const py::list &errors) {
    std::vector<std::string> lines = unmarked_lines(g["ZELConst"], text_of(code));
    py::list headers = nogil_headers_needing_interpreter(lines, errors);
    if (!headers.empty()) {
        raise_error(cls.attr("InterpreterNeeded"), headers);
    }
    std::optional<CallNeedingInterpreter> call = call_needing_interpreter(lines, errors);
    if (!call)
        return;
    py::object script_line = line_map.attr("get")(call->line, call->line);
    print_line(py::str("`" + call->name +
                       "` needs the interpreter and cannot be called from a parallel loop, line ") +
               py::str(script_line));
    g["sys"].attr("exit")(1);
}

py::object convert(const Globals &g, const py::object &cls, const py::str &code,
                   const py::str &module_name, const py::object &line_map) {
    py::object os = g["os"];
    py::object consts = g["ZELConst"];

    py::dict settings = cls.attr("default_options").attr("copy")();
    settings["language_level"] = 3;
    py::dict directives;
    directives["language_level"] = 3;
    directives["boundscheck"] = true;
    directives["wraparound"] = false;
    // Cython checks a divisor for zero only with Python's division: a C division by zero
    // would end the process with a signal instead of raising ZeroDivisionError.
    directives["cdivision"] = false;
    // What zel types it writes as `cdef` declarations; an annotation it leaves alone stays
    // a plain Python annotation, as the interpreter reads it, instead of a Cython type.
    directives["annotation_typing"] = false;
    // Performance hints advise the author of a .pyx file; the author of the script sees only
    // the phase lines of a build that succeeds, and the errors of one that fails.
    py::object known_directives =
        py::module_::import("Cython.Compiler.Options").attr("get_directive_defaults")();
    if (known_directives.contains("show_performance_hints"))
        directives["show_performance_hints"] = false;
    settings["compiler_directives"] = directives;
    settings["quiet"] = true;
    settings["annotate"] = false;
    py::object options = cls.attr("CompilationOptions")(settings);
    options.attr("module_name") = module_name;
    options.attr("cplus") = true;
    options.attr("configure_language_defaults")("pyx");

    // A path that is never opened: it names the source in positions and messages.
    py::object path = os.attr("path").attr("abspath")(module_name + py::str(".pyx"));
    py::object context = cls.attr("Context").attr("from_options")(options);
    py::object source =
        cls.attr("CompilationSource")(cls.attr("_InMemorySource")(code, path),
                                      cls.attr("EncodedString")(module_name), os.attr("getcwd")());
    py::object result = cls.attr("create_default_resultobj")(source, options);
    result.attr("c_file") = "<in-memory>";

    py::object capture = cls.attr("_CaptureBuffer");
    capture.attr("all_captured") = py::dict();
    py::object listing = g["io"].attr("StringIO")();
    py::list errors_held;
    {
        // Put back when this block is left, whichever way. An exception out of the compiler is
        // no error of the script's that it listed but a fault of the translation itself, and
        // goes on to the caller's report: what the compiler left behind by then is no result.
        ReplacedNames names;
        redirect_compiler_files(names, cls, source.attr("source_desc"));
        run_translation(cls, context, options, source, result, listing, errors_held);
    }

    py::dict captured = capture.attr("all_captured");
    if (truthy(attr_or(result, "num_errors", py::int_(0))) || captured.empty()) {
        refuse_interpreter_use(g, cls, code, line_map, errors_held);
        print_listing(consts, text_of(listing.attr("getvalue")()));
        g["sys"].attr("exit")(1);
        return py::none();
    }

    py::str text = main_text(captured);
    if (!truthy(line_map))
        return std::move(text);
    return map_to_script(text, line_map, text_of(module_name), cls, consts);
}

py::str with_pyx_interpreter(const py::str &code, const py::list &header_lines) {
    return with_interpreter(text_of(code), header_lines);
}

// The in-memory source reports an encoding, as an opened file does.
py::str encoded_io_encoding(const py::object &) {
    return py::str("UTF-8");
}

void in_memory_source_init(const Globals &g, const py::object &self, const py::object &code,
                           const py::object &fake_filename) {
    g["ZELCython"].attr("FileSourceDescriptor").attr("__init__")(self, fake_filename);
    self.attr("_code") = code;
}

// A fresh reader each time: the compiler reads the source more than once.
py::object get_file_object(const Globals &g, const py::object &self, const py::object &,
                           const py::object &) {
    return g["ZELCython"].attr("_EncodedStringIO")(self.attr("_code"));
}

void capture_buffer_init(const Globals &g, const py::object &self, const py::object &path) {
    g["io"].attr("StringIO").attr("__init__")(self);
    self.attr("_path") = path.is_none() ? py::str("") : py::str(path);
}

void capture_buffer_close(const Globals &g, const py::object &self) {
    py::object all_captured = g["ZELCython"].attr("_CaptureBuffer").attr("all_captured");
    all_captured[self.attr("_path")] = self.attr("getvalue")();
    g["io"].attr("StringIO").attr("close")(self);
}

// A comprehension with a scope of its own is visited in that scope, as a function is in its
// own; otherwise as the base class visits any expression.
py::object visit_scoped_expression(const py::object &self, const py::object &node) {
    py::object scope = py::none();
    if (truthy(node.attr("has_local_scope")))
        scope = node.attr("expr_scope");
    if (scope.is_none())
        return emitter::visit_safe_node(self, node);
    py::object outer = self.attr("env");
    self.attr("env") = scope;
    py::object visited;
    try {
        visited = emitter::visit_safe_node(self, node);
    } catch (...) {
        self.attr("env") = outer;
        throw;
    }
    self.attr("env") = outer;
    return visited;
}

py::object make_overflow_marking(const Globals &g, const py::object &) {
    py::object base =
        py::module_::import("Cython.Compiler.TypeInference").attr("MarkOverflowingArithmetic");
    ClassBuilder marking(g, "_OverflowMarking", py::make_tuple(base), "ZELCython");
    marking.method("visit_ScopedExprNode", visit_scoped_expression, py::arg("self"),
                   py::arg("node"));
    return marking.build();
}

// Its base, the compiler's source descriptor, is loaded with the compiler.
py::object make_in_memory_source(const Globals &g, const py::object &zel_cython) {
    ClassBuilder in_memory(g, "_InMemorySource",
                           py::make_tuple(zel_cython.attr("FileSourceDescriptor")), "ZELCython");
    in_memory.method("__init__", in_memory_source_init, py::arg("self"), py::arg("code"),
                     py::arg("fake_filename"));
    in_memory.method("get_file_object", get_file_object, py::arg("self"),
                     py::arg("encoding") = py::none(), py::arg("error_handling") = py::none());
    return in_memory.build();
}

} // namespace

// The compiler's modules load on first use: most of a run that reuses its build would
// otherwise go into importing them. A missing Cython still fails the import at once.
py::object make_zel_cython(const Globals &g) {
    LazyAttributes lazy(g, "Cython");
    ClassBuilder cython(g, "ZELCython");
    cython.attr("ModuleNode", lazy.module("Cython.Compiler.ModuleNode"));
    cython.attr("Pipeline", lazy.module("Cython.Compiler.Pipeline"));
    cython.attr("Errors", lazy.module("Cython.Compiler.Errors"));
    for (const char *name : {"Context", "CompilationSource", "create_default_resultobj"})
        cython.attr(name, lazy.import_from("Cython.Compiler.Main", name));
    for (const char *name : {"CompilationOptions", "default_options"})
        cython.attr(name, lazy.import_from("Cython.Compiler.Options", name));
    cython.attr("FileSourceDescriptor",
                lazy.import_from("Cython.Compiler.Scanning", "FileSourceDescriptor"));
    cython.attr("EncodedString",
                lazy.import_from("Cython.Compiler.StringEncoding", "EncodedString"));

    py::object string_io = g["io"].attr("StringIO");

    cython.attr("CompileError", nested_error_class(cython, "CompileError", "ZELCython.Error"));
    // Raised by `convert` with the .pyx lines of the headers of C functions to be written with
    // the interpreter; `with_interpreter` writes them so.
    cython.attr("InterpreterNeeded",
                nested_error_class(cython, "InterpreterNeeded", "ZELCython.InterpreterNeeded"));

    ClassBuilder encoded_io = cython.nested("_EncodedStringIO", py::make_tuple(string_io));
    encoded_io.property("encoding", encoded_io_encoding);
    cython.attr("_EncodedStringIO", encoded_io.build());

    cython.attr("_InMemorySource", lazy.made_by(make_in_memory_source));
    cython.attr("_OverflowMarking", lazy.made_by(make_overflow_marking));
    cython.attr("_CheckedArithmetic", lazy.made_by(make_checked_arithmetic));
    cython.attr("_WritableArrays", lazy.made_by(make_writable_arrays));
    cython.attr("_TextTruth", lazy.made_by(make_text_truth));
    cython.attr("_ElementStores", lazy.made_by(make_element_stores));
    cython.attr("_SignalChecks", lazy.made_by(make_signal_checks));
    cython.attr("_CharLiterals", lazy.made_by(make_char_literals));

    ClassBuilder capture = cython.nested("_CaptureBuffer", py::make_tuple(string_io));
    capture.attr("all_captured", py::dict());
    capture.method("__init__", capture_buffer_init, py::arg("self"), py::arg("path") = py::none());
    capture.method("close", capture_buffer_close, py::arg("self"));
    cython.attr("_CaptureBuffer", capture.build());

    cython.staticmethod("with_interpreter", with_pyx_interpreter, py::arg("code"),
                        py::arg("header_lines"));
    cython.classmethod("convert", convert, py::arg("cls"), py::arg("code"), py::arg("module_name"),
                       py::arg("linenumber_map"));
    return cython.build();
}

} // namespace zel
