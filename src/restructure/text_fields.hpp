// Fixed-length text members of records (a numpy 'S8' field is a char[8] member). numpy stores
// a value that fills the member without a terminating NUL, so a member is never taken for a
// C string where its end matters: a read that leaves the table as a Python object is bounded
// by the length, a comparison stays within it, a store copies at most the length and pads
// the rest with NULs, as numpy does, and where a C string is wanted (a char* variable, an
// argument, a result) the member is copied into one.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

namespace zel {
namespace py = pybind11;

// A field access of a text member and the member's length in bytes.
struct TextField {
    py::object field;
    py::object length;
};

// Asks for the text helpers of the generated module (struct_tables.cpp): copies, held results,
// lengths and bytes of C strings, which texts need also where no record holds one.
void use_text_helpers(const py::object &ci);

// Marks the field access `node` (`tbl[i].name`, `p.name`) when its member in the record
// description `sinfo` is a text. A read becomes the bounded read _zel_field_(field, length),
// except in compiled code, which holds no Python objects and reads the member in place, and
// as the value that the statement being walked stores in a char* variable: that variable
// points into a copy of its own, `_zel_text_<name>`, made in front of the statement, so it
// holds a C string that no longer depends on the table, as a Python bytes value would.
void mark_text_field(const py::object &cls, const py::object &node, const py::object &sinfo,
                     const py::object &ci);

// The text member that `node` reads or stores (a marked field access, or a bounded read of
// one), or nothing.
std::optional<TextField> text_field_of(const py::object &node);

// An assignment `field = value` to a text member becomes `_zel_setfield_(field, n, value, m)`:
// the value's bytes up to its first NUL, at most n (and at most m, the length of the text
// member it comes from), then NULs up to n. Other assignments stay.
void store_text_field(const py::object &node);

// A call of a C function of the module that returns a text, `f(...)`, gives its text in a buffer
// of the thread's that its next return overwrites. Unless the statement being walked hands the
// result on as it is (returns it, or stores it in a text variable, which copies it), the call
// becomes `_zel_textof_(_zel_result_<k> := _zel_texthold_(f(...)))`: the text copied at once
// into a hidden variable of this call's, which a parallel loop's threads each have, held
// through the statement, and compared by contents (tagged "char*").
void hold_text_result(const py::object &cls, const py::object &node, const py::object &ci);

// Outside compiled code, a text variable assigned a Python value (or another text variable's
// C string) keeps a reference beside its pointer, `_zel_hold_<name>`, which owns the bytes it
// points into; the same for each text variable a tuple target unpacks into.
// In compiled code, `t = s` between text variables, where `s` may point into its copy of a member:
// `t` takes a copy of its own, `_zel_text_t = _zel_text_s` in front and `t = _zel_textshare_(s,
// _zel_text_s.s, _zel_text_t.s)`, so that a later copy into `s` leaves `t` as it was; a text `s`
// points to elsewhere, which nothing changes, stays shared. `t = f(...)` with a C function that
// returns text (also as a branch of a conditional or an operand of `and` and `or`) copies the
// result out of the function's buffer likewise.
void copy_text_variable(const py::object &cls, const py::object &stmt, const py::object &ci);

// `for s in values:` outside compiled code, `s` a text variable: the loop stores each value in
// `s`'s reference, `_zel_hold_s`, and its body begins `s = _zel_hold_s`, so that `s` points
// into bytes that stay alive as long as it does (see copy_text_variable).
void hold_loop_texts(const py::object &cls, const py::object &loop, const py::object &ci);

// `len(s)` in compiled code of a C string (a text variable, a text function's result) is its
// length up to the NUL, `_zel_strlen_(s)`, and of a text member read in place the length within
// the member, `_zel_strnlen_(field, n)`: Cython's len() of a C string needs the interpreter, and
// its len() of a member is the member's size.
void measure_text(const py::object &cls, const py::object &node, const py::object &ci);

// Compiled code passes a text member to a call as a C string: a copy bounded by its length
// that lives through the call.
void pass_text_arguments(const py::object &node);

} // namespace zel
