// Names that the rewriting gives to things of the generated module.
#pragma once

namespace zel {

// The alias of Cython's compile-time module, through which a loop switches off checks that a
// test before it has made needless; also the tag, on the root block and then on the module,
// that asks for its cimport.
constexpr const char *cython_alias = "_zel_cython_";

// The count of a projection loop's group loops that ended without break: its else clause runs
// when every loop that may break did not.
constexpr const char *loops_ended = "_zel_loops_ended_";

// The functions that the module's executable statements are written into: a traceback entry
// of one of them is the module's own.
constexpr const char *body_function_prefix = "_zel_body_";
constexpr const char *loop_function_prefix = "_zel_loop_";

// The tag on the module that asks for the text helpers (copies, held results, lengths of C
// strings), which a module of text variables needs without any record holding a text.
constexpr const char *text_helpers_tag = "_zel_text_helpers_";

// The stack test that every C function of the script makes on entry, and the RecursionError it
// raises when the thread's stack is nearly used up.
constexpr const char *stack_low = "_zel_stack_low_";
constexpr const char *recursion_error = "_zel_recursion_error_";

} // namespace zel
