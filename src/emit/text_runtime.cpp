// The text runtime, written once into a module whose records or variables hold texts.
//
// numpy stores a text that fills its member without a terminating NUL: members are read and
// compared within their length. `field_compare` is 0 when the texts up to their first NUL, each
// within its bound, are equal. `field_bytes` reads a member as bytes. `text_copy` makes a member
// a C string of its own, in a buffer as long as the longest member and a NUL, held by value so
// that each thread of a parallel loop has its own. `text_return` returns such a text from a C
// function in a buffer of the thread's, until its next return (a longer text, which is in no
// such buffer, as it is), and `text_keep` copies such a text out of it. `text_hold` holds one
// call's result by value, a copy or the longer text itself, for `held_text`, which reads it
// where Cython keeps it: in its own temporary through the statement, made when the call
// returns, before any later call; `text_bytes` makes one bytes at once, of no type Cython
// knows, so that Python code subscripts it as Python does. `text_share` gives the copy when a
// text is the one in a variable's own buffer (else the text itself), `text_back` the copy when
// a text is not the one a variable held before a parallel loop. `set_field` stores as numpy
// does: the value cut to the member's n bytes (and to the m bytes of the member it comes from),
// the rest filled with NULs; source and member may be one.
#include "emit/text_runtime.hpp"

#include "restructure/generated_names.hpp"
#include "support/text_template.hpp"

namespace zel {
namespace {

constexpr const char *runtime = R"pyx(
from libc.string cimport memcmp as _zel_memcmp_, memcpy as _zel_memcpy_, memmove as _zel_memmove_, memset as _zel_memset_
cdef extern from "string.h" nogil:
    size_t ${bounded_length} "strnlen"(const char* s, size_t n)
    size_t ${string_length} "strlen"(const char* s)
cdef extern from *:
    "static thread_local char _zel_kept[${size}]; static char *_zel_textret(const char *text, long long n) { size_t k = strnlen(text, n < 0 ? ${size} : (size_t)n); if (k > ${bound}) return (char *)text; memmove(_zel_kept, text, k); _zel_kept[k] = 0; return _zel_kept; }"
    char* ${text_return} "_zel_textret"(const char* text, long long n) nogil
    char* ${returned_text} "_zel_kept"
ctypedef struct ${textbuf}:
    char s[${size}]
ctypedef struct ${textheld}:
    char s[${size}]
    char* text
cdef inline int ${field_compare}(const char* a, size_t n, const char* b, size_t m) noexcept nogil:
    cdef size_t k = ${bounded_length}(a, n)
    return k != ${bounded_length}(b, m) or _zel_memcmp_(a, b, k) != 0
cdef inline bytes ${field_bytes}(const char* field, size_t n):
    return field[:${bounded_length}(field, n)]
cdef inline ${textbuf} ${text_copy}(const char* field, size_t n) noexcept nogil:
    cdef ${textbuf} copy
    cdef size_t k = ${bounded_length}(field, n)
    _zel_memcpy_(copy.s, field, k)
    copy.s[k] = 0
    return copy
cdef inline ${textbuf} ${text_keep}(const char* text) noexcept nogil:
    return ${text_copy}(text, ${bound})
cdef inline ${textheld} ${text_hold}(char* text) noexcept nogil:
    cdef ${textheld} held
    cdef size_t k = ${bounded_length}(text, ${size})
    held.text = text if k > ${bound} else NULL
    if held.text == NULL:
        _zel_memcpy_(held.s, text, k)
        held.s[k] = 0
    return held
cdef inline char* ${held_text}(${textheld}& held) noexcept nogil:
    if held.text == NULL:
        return held.s
    return held.text
cdef inline object ${text_bytes}(const char* text):
    return text
cdef inline char* ${text_share}(char* text, char* own, char* copy) noexcept nogil:
    return copy if text == own else text
cdef inline char* ${text_back}(char* text, char* before, char* copy) noexcept nogil:
    return text if text == before else copy
cdef inline void ${set_field}(char* field, size_t n, const char* value, size_t m) noexcept nogil:
    cdef size_t k = ${bounded_length}(value, n if n < m else m)
    _zel_memmove_(field, value, k)
    _zel_memset_(field + k, 0, n - k)
)pyx";

} // namespace

std::string text_runtime(long long longest) {
    return fill_template(runtime, {{"size", std::to_string(longest + 1)},
                                   {"bound", std::to_string(longest)},
                                   {"bounded_length", bounded_length},
                                   {"string_length", string_length},
                                   {"text_return", text_return},
                                   {"returned_text", returned_text},
                                   {"textbuf", text_buffer_type},
                                   {"textheld", held_text_type},
                                   {"field_compare", field_compare},
                                   {"field_bytes", field_bytes},
                                   {"text_copy", text_copy},
                                   {"text_keep", text_keep},
                                   {"text_hold", text_hold},
                                   {"held_text", held_text},
                                   {"text_bytes", text_bytes},
                                   {"text_share", text_share},
                                   {"text_back", text_back},
                                   {"set_field", set_field}});
}

} // namespace zel
