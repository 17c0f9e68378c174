// The module body as functions. Cython compiles every module-level statement into one
// module-init function, and the C++ compiler's cost on one function grows faster than its
// size; module-level C names are globals, stored and reloaded on every step of a loop. So the
// executable statements of a long module body are written into `cdef` functions of bounded
// size that the module calls in order, reaching module names through `global`. Definitions
// (functions, classes, imports) stay at module level where they stand, and declarations go
// before the function that first assigns them. In every module body, long or short, a loop
// that touches only C-typed names and builtins runs in a function of its own, on C locals
// copied in before it and written back on every way out: no code of the script can run
// meanwhile, so no one sees the module names stale.
#include "emit/emit_classes.hpp"
#include "emit/emitter_calls.hpp"
#include "restructure/generated_names.hpp"
#include "restructure/tags.hpp"
#include "restructure/type_names.hpp"
#include "support/pyast.hpp"
#include "support/text.hpp"
#include "support/with_context.hpp"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zel {
namespace {

// Identifies a node of the tree, which outlives the emission.
py::int_ node_key(const py::object &node) {
    return py::int_(reinterpret_cast<std::uintptr_t>(node.ptr()));
}

// Statements a body function holds before the next one begins: the size at which one
// function stops growing the compile cost faster than linearly.
constexpr long statements_per_function = 50;

// Names that may stand in a statement run on C locals besides the module's C-typed names:
// builtins the script does not rebind, and generated helpers, none of which calls code of the
// script.
bool calls_no_script_code(const std::string &name, const std::set<std::string> &script_names) {
    static const std::set<std::string> builtins = {
        "range", "len",  "abs",        "min",        "max",           "int",
        "float", "bool", "IndexError", "ValueError", "OverflowError", "ZeroDivisionError",
        "openmp"};
    if (starts_with(name, generated_prefix) || starts_with(name, "_cp_") ||
        starts_with(name, lookup_prefix))
        return true;
    return builtins.count(name) && !script_names.count(name);
}

// A C type that a function can take a pointer to and copy, or a memory view it can take by
// value; records and text stay globals.
bool is_scalar_type(const std::string &type) {
    static const std::set<std::string> scalars = {
        "int",         "long long",    "float",      "double", "long",         "short",
        "char",        "bint",         "Py_ssize_t", "size_t", "unsigned int", "unsigned long long",
        "signed char", "unsigned char"};
    return scalars.count(type) != 0;
}

// What one module-level statement does with names, found in one walk over it.
struct StatementUse {
    bool stays = false;       // a definition, or code that needs the module's own frame
    bool declaration = false; // an annotation without a value: nothing runs
    bool has_loop = false;
    bool only_c_names = true; // every name is C-typed or calls no script code
    long statements = 0;
    std::vector<std::string> used; // in order of first appearance
    std::set<std::string> bound;
};

class ModuleBodyWriter {
  public:
    ModuleBodyWriter(const Globals &g, const py::object &self)
        : self_(self), zel_ast_(g["ZELAst"]), cidx_(tag_name(zel_ast_, cdef_tag)),
          didx_(tag_name(zel_ast_, dtype_tag)), prange_name_(g["ZELConst"].attr("zelrange")) {}

    void write(const py::list &body) {
        read_module_c_names(body);
        read_script_names(body);
        std::vector<StatementUse> uses;
        long executable = 0;
        for (size_t i = 0; i < body.size(); ++i) {
            uses.push_back(examine(body[i], i == 0));
            if (!uses.back().stays)
                executable += uses.back().statements;
        }
        // A short module body gains nothing from body functions: it stays as written, but for
        // its hot loops.
        outline_all_ = executable > statements_per_function;
        Run run;
        long run_size = 0;
        for (size_t i = 0; i < body.size(); ++i) {
            py::object stmt = body[i];
            if (uses[i].stays) {
                flush(run);
                run_size = 0;
                traverse(stmt);
                continue;
            }
            if (run_size >= statements_per_function) {
                flush(run);
                run_size = 0;
            }
            run_size += uses[i].statements;
            run.emplace_back(std::move(stmt), std::move(uses[i]));
        }
        flush(run);
    }

  private:
    using Run = std::vector<std::pair<py::object, StatementUse>>;

    // The C type of every name the module body declares, from its top-level declarations.
    void read_module_c_names(const py::list &body) {
        for (py::handle stmt : body) {
            if (is_a(stmt, "AnnAssign"))
                note_c_name(stmt, stmt.attr("target"));
            else if (is_a(stmt, "Assign"))
                for (py::handle target : stmt.attr("targets"))
                    note_c_name(target, target);
        }
    }
    void note_c_name(py::handle tagged, py::handle target) {
        py::object type = declared_type(tagged);
        if (!type.is_none() && is_a(target, "Name"))
            c_types_[text_of(target.attr("id"))] = text_of(type);
    }

    // `import a.b` binds `a`; `import a.b as c` and `from a import b as c` bind `c`.
    static std::string bound_by_import(py::handle alias) {
        py::object asname = alias.attr("asname");
        std::string name = text_of(asname.is_none() ? alias.attr("name") : asname);
        return name.substr(0, name.find('.'));
    }

    // Every name the script binds anywhere, so that none of them is taken for a builtin. A
    // module that is only cimported (openmp, for the parallel loops) binds no Python name.
    void read_script_names(const py::list &body) {
        std::vector<py::object> pending;
        for (py::handle stmt : body)
            if (!(is_a(stmt, "Import") && get_tag(stmt, cidx_).is(py::bool_(true))))
                pending.push_back(py::reinterpret_borrow<py::object>(stmt));
        while (!pending.empty()) {
            py::object node = std::move(pending.back());
            pending.pop_back();
            if (is_a(node, "Name") && !is_a(attr_or(node, "ctx"), "Load"))
                script_names_.insert(text_of(node.attr("id")));
            else if (is_a(node, "FunctionDef") || is_a(node, "AsyncFunctionDef") ||
                     is_a(node, "ClassDef"))
                script_names_.insert(text_of(node.attr("name")));
            else if (is_a(node, "alias"))
                script_names_.insert(bound_by_import(node));
            else if (is_a(node, "arg"))
                script_names_.insert(text_of(node.attr("arg")));
            for (py::handle child : child_nodes(node))
                pending.push_back(py::reinterpret_borrow<py::object>(child));
        }
    }

    py::object declared_type(py::handle node) const {
        if (!truthy(get_tag(node, cidx_)))
            return py::none();
        py::object type = get_tag(node, didx_);
        return truthy(type) ? type : py::none();
    }

    StatementUse examine(const py::object &stmt, bool first) const {
        StatementUse use;
        if (first && is_a(stmt, "Expr") && is_a(stmt.attr("value"), "Constant") &&
            py::isinstance<py::str>(stmt.attr("value").attr("value"))) {
            use.stays = true; // the docstring
            return use;
        }
        use.declaration = is_a(stmt, "AnnAssign") && stmt.attr("value").is_none();
        static const char *const frame_names[] = {"locals", "vars", "exec", "eval", "dir"};
        std::set<std::string> seen;
        // Nodes to visit, each with whether it stands in a scope of its own (a lambda or a
        // comprehension), whose names are not the module's, but for `:=` targets.
        std::vector<std::pair<py::object, bool>> pending = {{stmt, false}};
        while (!pending.empty()) {
            auto [node, nested] = std::move(pending.back());
            pending.pop_back();
            if (is_a(node, "FunctionDef") || is_a(node, "AsyncFunctionDef") ||
                is_a(node, "ClassDef") || is_a(node, "Import") || is_a(node, "ImportFrom") ||
                is_a(node, "Global") || is_a(node, "Nonlocal")) {
                use.stays = true;
                return use;
            }
            bool scope = is_a(node, "Lambda") || is_a(node, "ListComp") || is_a(node, "SetComp") ||
                         is_a(node, "DictComp") || is_a(node, "GeneratorExp");
            bool named_expr = is_a(node, "NamedExpr");
            if (scope || named_expr)
                use.only_c_names = false;
            if (is_a(node, "stmt"))
                ++use.statements;
            if (is_a(node, "For") || is_a(node, "While"))
                use.has_loop = true;
            if (is_a(node, "Name")) {
                std::string id = text_of(node.attr("id"));
                for (const char *frame_name : frame_names)
                    if (id == frame_name) {
                        use.stays = true; // they see the frame they are called from
                        return use;
                    }
                // Names the rewriting builds may carry no context: they are read.
                py::object ctx = attr_or(node, "ctx");
                if (!nested && !ctx.is_none() && !is_a(ctx, "Load"))
                    use.bound.insert(id);
                if (seen.insert(id).second)
                    use.used.push_back(id);
                if (!c_types_.count(id) && !calls_no_script_code(id, script_names_))
                    use.only_c_names = false;
            } else if (named_expr) {
                py::object target = node.attr("target");
                use.bound.insert(text_of(target.attr("id")));
            } else if (!nested && (is_a(node, "ExceptHandler") || is_a(node, "MatchAs") ||
                                   is_a(node, "MatchStar"))) {
                py::object name = node.attr("name");
                if (!name.is_none())
                    use.bound.insert(text_of(name));
            } else if (!nested && is_a(node, "MatchMapping")) {
                py::object rest = node.attr("rest");
                if (!rest.is_none())
                    use.bound.insert(text_of(rest));
            }
            // Pushed last to first, so that names are met in the order they are written.
            py::list kids = child_nodes(node);
            for (size_t k = kids.size(); k-- > 0;)
                pending.emplace_back(kids[k], nested || scope);
        }
        return use;
    }

    // Writes a run of executable statements. In a short module body they stay where they
    // are; in a long one, the declarations they make come first, then their body function,
    // and the call of it. Either way their hot loops are written as functions first.
    void flush(Run &run) {
        if (!outline_all_) {
            for (const auto &entry : run) {
                outline_loops(entry.first);
                traverse(entry.first);
            }
            run.clear();
            return;
        }
        std::vector<py::object> statements;
        std::set<std::string> bound;
        for (auto &[stmt, use] : run) {
            if (use.declaration) {
                traverse(stmt);
                continue;
            }
            write_declarations(stmt);
            statements.push_back(stmt);
            bound.insert(use.bound.begin(), use.bound.end());
        }
        run.clear();
        if (statements.empty())
            return;
        for (const py::object &stmt : statements)
            outline_loops(stmt);

        std::string name = body_function_prefix + std::to_string(functions_++) + "_";
        set_line(statements.front());
        fill("cdef int " + name + "() except -1");
        in_block([&] {
            write_globals(bound);
            for (const py::object &stmt : statements)
                traverse_as_function_code(stmt);
            fill("return 0");
        });
        set_line(statements.front());
        fill(name + "()");
    }

    // The outermost loops of a module-level statement that touch only C-typed names and
    // builtins are written as functions, and the emitter writes a call in their place. A
    // `with` statement around a loop (the directives and the test before a parallel loop) goes
    // along with it.
    void outline_loops(const py::object &node) {
        bool with = is_a(node, "With");
        if (with || is_a(node, "For") || is_a(node, "While")) {
            StatementUse use = examine(node, false);
            if (use.has_loop && use.only_c_names && !use.stays) {
                std::string call = write_loop_function(node, use);
                if (!call.empty()) {
                    self_.attr("_outlined_loops")[node_key(node)] = py::str(call);
                    return;
                }
            }
            // The body of a parallel loop, or of a `with` statement (which may hold the
            // directives of one), runs without the interpreter lock, which a call of a
            // function that can raise needs.
            if (with || is_parallel_loop(node))
                return;
        }
        for (py::handle child : child_nodes(node))
            if (is_a(child, "stmt") || is_a(child, "excepthandler") || is_a(child, "match_case"))
                outline_loops(py::reinterpret_borrow<py::object>(child));
    }

    bool holds_parallel_loop(const py::object &node) const {
        if (is_parallel_loop(node))
            return true;
        for (py::handle child : child_nodes(node))
            if (holds_parallel_loop(py::reinterpret_borrow<py::object>(child)))
                return true;
        return false;
    }

    bool is_parallel_loop(const py::object &node) const {
        if (!is_a(node, "For"))
            return false;
        py::object iter = node.attr("iter");
        return is_a(iter, "Call") && is_a(iter.attr("func"), "Name") &&
               py_equal(iter.attr("func").attr("id"), prange_name_);
    }

    // `cdef T name` for each name the statement declares; the function assigns it.
    void write_declarations(const py::object &stmt) {
        if (is_a(stmt, "AnnAssign")) {
            write_declaration(stmt, stmt, stmt.attr("target"));
        } else if (is_a(stmt, "Assign")) {
            for (py::handle target : stmt.attr("targets"))
                write_declaration(stmt, target, target);
        }
    }
    void write_declaration(const py::object &stmt, py::handle tagged, py::handle target) {
        py::object type = declared_type(tagged);
        if (type.is_none())
            return;
        set_line(stmt);
        fill("cdef " + text_of(type) + " ");
        emitter::traverse(self_, target);
    }

    // A loop statement on C locals: scalars come in through pointers and go back through them
    // when the statement ends, however it ends; views come in by value, unless the statement
    // assigns them, when they stay globals. Returns the call, or "" when no name gains.
    std::string write_loop_function(const py::object &stmt, const StatementUse &use) {
        std::vector<std::string> parameters, arguments, scalars;
        std::set<std::string> globals = use.bound;
        for (const std::string &name : use.used) {
            auto found = c_types_.find(name);
            if (found == c_types_.end())
                continue;
            const std::string &type = found->second;
            if (is_scalar_type(type)) {
                parameters.push_back(type + " *" + pointer_name(name));
                arguments.push_back("&" + name);
                scalars.push_back(name);
            } else if (is_view_type(type) && !use.bound.count(name)) {
                parameters.push_back(type + " " + name);
                arguments.push_back(name);
            } else {
                continue;
            }
            globals.erase(name);
        }
        // A name a parallel loop assigns is private to each of its threads, which a global
        // cannot be: such a loop keeps the module's own names.
        if (parameters.empty() || (!globals.empty() && holds_parallel_loop(stmt)))
            return "";

        std::string name = loop_function_prefix + std::to_string(functions_++) + "_";
        set_line(stmt);
        fill("cdef int " + name + "(" + joined(parameters) + ") except -1");
        in_block([&] {
            write_globals(globals);
            std::vector<std::string> written_back;
            for (const std::string &scalar : scalars) {
                fill("cdef " + c_types_.at(scalar) + " " + scalar + " = " + pointer_name(scalar) +
                     "[0]");
                if (use.bound.count(scalar))
                    written_back.push_back(scalar);
            }
            if (written_back.empty()) {
                traverse_as_function_code(stmt);
            } else {
                fill("try");
                in_block([&] { traverse_as_function_code(stmt); });
                set_line(stmt);
                fill("finally");
                in_block([&] {
                    for (const std::string &scalar : written_back)
                        fill(pointer_name(scalar) + "[0] = " + scalar);
                });
            }
            fill("return 0");
        });
        return name + "(" + joined(arguments) + ")";
    }

    static std::string pointer_name(const std::string &name) {
        return module_pointer_prefix + name;
    }

    static std::string joined(const std::vector<std::string> &items) {
        std::string text;
        for (const std::string &item : items)
            text += (text.empty() ? "" : ", ") + item;
        return text;
    }

    void write_globals(const std::set<std::string> &names) {
        std::vector<std::string> sorted(names.begin(), names.end());
        if (!sorted.empty())
            fill("global " + joined(sorted));
    }

    // Inside a body function an annotation would declare a local: statements only assign.
    void traverse_as_function_code(const py::object &stmt) {
        self_.attr("_in_module_function") = py::bool_(true);
        try {
            traverse(stmt);
        } catch (...) {
            self_.attr("_in_module_function") = py::bool_(false);
            throw;
        }
        self_.attr("_in_module_function") = py::bool_(false);
    }

    void traverse(const py::object &stmt) { emitter::traverse(self_, stmt); }
    void fill(const std::string &text) { emitter::fill(self_, py::str(text)); }
    void set_line(const py::object &stmt) { self_.attr("_pending_lineno") = stmt.attr("lineno"); }
    template <typename Body> void in_block(Body &&body) {
        with_context(emitter::block(self_), std::forward<Body>(body));
    }

    py::object self_;
    py::object zel_ast_;
    py::object cidx_;
    py::object didx_;
    py::object prange_name_;
    std::map<std::string, std::string> c_types_;
    std::set<std::string> script_names_;
    long functions_ = 0;
    bool outline_all_ = false;
};

void visit_Module(const Globals &g, const py::object &self, const py::object &node) {
    self.attr("_type_ignores") = py::dict();
    ModuleBodyWriter(g, self).write(node.attr("body"));
}

// A loop written as a function of its own is written as the call of it.
void visit_loop(const Globals &g, const char *visitor, const py::object &self,
                const py::object &node) {
    py::object calls = self.attr("_outlined_loops");
    py::object key = node_key(node);
    if (calls.contains(key)) {
        emitter::fill(self, calls[key]);
        return;
    }
    host_unparser(g).attr(visitor)(self, node);
}
void visit_For(const Globals &g, const py::object &self, const py::object &node) {
    visit_loop(g, "visit_For", self, node);
}
void visit_While(const Globals &g, const py::object &self, const py::object &node) {
    visit_loop(g, "visit_While", self, node);
}
void visit_With(const Globals &g, const py::object &self, const py::object &node) {
    visit_loop(g, "visit_With", self, node);
}

} // namespace

void add_module_functions(ClassBuilder &unparser) {
    unparser.method("visit_Module", visit_Module, py::arg("self"), py::arg("node"));
    unparser.method("visit_For", visit_For, py::arg("self"), py::arg("node"));
    unparser.method("visit_While", visit_While, py::arg("self"), py::arg("node"));
    unparser.method("visit_With", visit_With, py::arg("self"), py::arg("node"));
}

} // namespace zel
