// Names that zel gives to things of the generated module, each spelled here once: the rewriting
// writes them into the tree, the emitter writes the runtime that defines them, and a name that
// begins with `generated_prefix` is known to be none of the script's. Names that one runtime
// template alone uses (the C side of a Cython declaration, a cimported C function's alias) are
// spelled in that template.
#pragma once

namespace zel {

// The prefix of the names below that stand in the script's Python text.
constexpr const char *generated_prefix = "_zel_";

// The alias of Cython's compile-time module, through which a loop switches off checks that a
// test before it has made needless; also the tag, on the root block and then on the module,
// that asks for its cimport.
constexpr const char *cython_alias = "_zel_cython_";

// The alias of numpy that the generated module imports at the Python and at the C level.
constexpr const char *numpy_alias = "_zel_numpy_";

// The tag on a numpy call that records what its arguments make of the array (its shape and
// dtype, or the record description of a dtype).
constexpr const char *attribute_call = "_zel_call_attr_";

// The value of a chained assignment `a = b = f()`, evaluated once into it before the targets.
constexpr const char *chained_value = "_zel_chained_";

// The count of a projection loop's group loops that ended without break: its else clause runs
// when every loop that may break did not.
constexpr const char *loops_ended = "_zel_loops_ended_";

// The functions that the module's executable statements are written into: a traceback entry
// of one of them is the module's own.
constexpr const char *body_function_prefix = "_zel_body_";
constexpr const char *loop_function_prefix = "_zel_loop_";

// A body function's pointer to a module-level C variable that it writes back:
// `_zel_at_<name>`.
constexpr const char *module_pointer_prefix = "_zel_at_";

// The view that keeps alive the array a struct pointer points into: `_zel_keep_<pointer>`.
constexpr const char *table_keep_prefix = "_zel_keep_";

// A registered lookup function: `_lookup_<block><key>`; also the tag of a lookup call.
constexpr const char *lookup_prefix = "_lookup_";

// The alias of Cython's prange, which the script's `zel.range` becomes.
constexpr const char *prange_alias = "_cp_prange_";

// The tag on the module that asks for the text helpers (copies, held results, lengths of C
// strings), which a module of text variables needs without any record holding a text.
constexpr const char *text_helpers_tag = "_zel_text_helpers_";

// The text runtime (emit/text_runtime.cpp): its types and helpers, as the rewriting calls them.
constexpr const char *text_buffer_type = "_zel_textbuf_";
constexpr const char *held_text_type = "_zel_textheld_";
constexpr const char *string_compare = "_zel_strcmp_";
constexpr const char *string_length = "_zel_strlen_";
constexpr const char *bounded_length = "_zel_strnlen_";
constexpr const char *field_compare = "_zel_fieldcmp_";
constexpr const char *field_bytes = "_zel_field_";
constexpr const char *set_field = "_zel_setfield_";
constexpr const char *text_copy = "_zel_textcopy_";
constexpr const char *text_return = "_zel_textret_";
constexpr const char *returned_text = "_zel_kept_";
constexpr const char *text_keep = "_zel_textkeep_";
constexpr const char *text_hold = "_zel_texthold_";
constexpr const char *held_text = "_zel_textof_";
constexpr const char *text_bytes = "_zel_textbytes_";
constexpr const char *text_share = "_zel_textshare_";
constexpr const char *text_back = "_zel_textback_";

// The hidden variables of text variables: the copy a char* variable points into
// (`_zel_text_<name>`), its value before a parallel loop (`_zel_was_<name>`), the reference it
// keeps (`_zel_hold_<name>`), and one call's held result (`_zel_result_<k>`).
constexpr const char *text_copy_prefix = "_zel_text_";
constexpr const char *text_before_prefix = "_zel_was_";
constexpr const char *text_hold_prefix = "_zel_hold_";
constexpr const char *call_result_prefix = "_zel_result_";

// The stack test that every C function of the script makes on entry, and the RecursionError it
// raises when the thread's stack is nearly used up.
constexpr const char *stack_low = "_zel_stack_low_";
constexpr const char *recursion_error = "_zel_recursion_error_";

// The C helpers that the compiler stages add to the generated C++: their common prefix (the
// checked arithmetic names each helper by its operation and types), the error they set without
// the interpreter lock, the signal checks, the truth of a text, and the module name that a
// definition records.
constexpr const char *c_helper_prefix = "__Pyx_zel_";
constexpr const char *c_raise = "__Pyx_zel_raise";
constexpr const char *c_check_signals = "__Pyx_zel_check_signals";
constexpr const char *c_check_signals_now = "__Pyx_zel_check_signals_now";
constexpr const char *c_text_nonempty = "__Pyx_zel_text_nonempty";
constexpr const char *c_module_name = "__Pyx_zel_module_name";

} // namespace zel
