"""The struct and lookup block written in place of `import zel`, and the numpy and openmp import lines."""
import ast
import textwrap

import pytest

from pyx_helpers import emit

STRCMP = "from libc.string cimport strcmp as _zel_strcmp_"


def text_helpers(longest):
    """Written after STRCMP when a struct has a text member: reads, copies and comparisons
    bounded by its length; copies are as long as the longest member."""
    return [
        "from libc.string cimport memcmp as _zel_memcmp_, memcpy as _zel_memcpy_, "
        "memmove as _zel_memmove_, memset as _zel_memset_",
        'cdef extern from "string.h" nogil:',
        '    size_t _zel_strnlen_ "strnlen"(const char* s, size_t n)',
        '    size_t _zel_strlen_ "strlen"(const char* s)',
        "cdef extern from *:",
        f'    "static thread_local char _zel_kept[{longest + 1}]; static char *_zel_textret(const char *text, '
        f"long long n) {{ size_t k = strnlen(text, n < 0 ? {longest + 1} : (size_t)n); if (k > {longest}) "
        "return (char *)text; memmove(_zel_kept, text, k); "
        '_zel_kept[k] = 0; return _zel_kept; }"',
        '    char* _zel_textret_ "_zel_textret"(const char* text, long long n) nogil',
        '    char* _zel_kept_ "_zel_kept"',
        "ctypedef struct _zel_textbuf_:",
        f"    char s[{longest + 1}]",
        "ctypedef struct _zel_textheld_:",
        f"    char s[{longest + 1}]",
        "    char* text",
        "cdef inline int _zel_fieldcmp_(const char* a, size_t n, const char* b, size_t m) noexcept nogil:",
        "    cdef size_t k = _zel_strnlen_(a, n)",
        "    return k != _zel_strnlen_(b, m) or _zel_memcmp_(a, b, k) != 0",
        "cdef inline bytes _zel_field_(const char* field, size_t n):",
        "    return field[:_zel_strnlen_(field, n)]",
        "cdef inline _zel_textbuf_ _zel_textcopy_(const char* field, size_t n) noexcept nogil:",
        "    cdef _zel_textbuf_ copy",
        "    cdef size_t k = _zel_strnlen_(field, n)",
        "    _zel_memcpy_(copy.s, field, k)",
        "    copy.s[k] = 0",
        "    return copy",
        "cdef inline _zel_textbuf_ _zel_textkeep_(const char* text) noexcept nogil:",
        f"    return _zel_textcopy_(text, {longest})",
        "cdef inline _zel_textheld_ _zel_texthold_(char* text) noexcept nogil:",
        "    cdef _zel_textheld_ held",
        f"    cdef size_t k = _zel_strnlen_(text, {longest + 1})",
        f"    held.text = text if k > {longest} else NULL",
        "    if held.text == NULL:",
        "        _zel_memcpy_(held.s, text, k)",
        "        held.s[k] = 0",
        "    return held",
        "cdef inline char* _zel_textof_(_zel_textheld_& held) noexcept nogil:",
        "    if held.text == NULL:",
        "        return held.s",
        "    return held.text",
        "cdef inline object _zel_textbytes_(const char* text):",
        "    return text",
        "cdef inline char* _zel_textshare_(char* text, char* own, char* copy) noexcept nogil:",
        "    return copy if text == own else text",
        "cdef inline char* _zel_textback_(char* text, char* before, char* copy) noexcept nogil:",
        "    return text if text == before else copy",
        "cdef inline void _zel_setfield_(char* field, size_t n, const char* value, size_t m) noexcept nogil:",
        "    cdef size_t k = _zel_strnlen_(value, n if n < m else m)",
        "    _zel_memmove_(field, value, k)",
        "    _zel_memset_(field + k, 0, n - k)",
    ]


def emit_source(ns, source, rewrite=True):
    tree = ast.parse(textwrap.dedent(source))
    if rewrite:
        ns.ZELAst.restruct(tree)
    return emit(ns, tree).splitlines()


def record(ns, name, *fields):
    info = ns.ZELAst.StructInfo(name)
    for field in fields:
        info.add(*field)
    return info


def test_empty_registries_give_the_strcmp_line(zel_ns):
    assert emit_source(zel_ns, "import zel", rewrite=False) == [STRCMP]


def test_struct_members_and_dimensions(zel_ns):
    A = zel_ns.ZELAst
    dims = ast.Tuple([ast.Constant(2), ast.Constant(3)])
    A.struct_def["dt"] = record(zel_ns, "", ("name", "char", ast.Constant(16)), ("m", "double", dims), ("n", "int"))
    A.struct_def["row"] = record(zel_ns, "_f", ("k", "long long"))
    assert emit_source(zel_ns, "import zel", rewrite=False) == [
        "cdef public packed struct _struct_dt:",
        "    char name[16]",
        "    double m[2][3]",
        "    int n",
        "cdef public packed struct _struct_row_f:",
        "    long long k",
        STRCMP,
        *text_helpers(16),
    ]
    assert A.struct_def is None


def test_lookup_functions_compare_text_fields_within_their_length(zel_ns):
    info = record(zel_ns, "", ("name", "char", ast.Constant(8)), ("c", "char"), ("qty", "int"))
    zel_ns.ZELAst.lookup_def["_lookup_dt"] = (2, "_struct_dt", info)
    zel_ns.ZELAst.lookup_def["_lookup_one"] = (1, "_struct_one", info)
    assert emit_source(zel_ns, "import zel", rewrite=False)[1:] == text_helpers(8) + [
        "cdef long long _lookup_dt(_struct_dt[::1] tbl,char* name,char c) noexcept nogil:",
        "    cdef long long idx",
        "    for idx in range(len(tbl)):",
        "        if _zel_fieldcmp_(tbl[idx].name,8,name,9)==0 and tbl[idx].c==c:",
        "            return idx",
        "    return -1",
        "cdef long long _lookup_one(_struct_one[::1] tbl,char* name) noexcept nogil:",
        "    cdef long long idx",
        "    for idx in range(len(tbl)):",
        "        if _zel_fieldcmp_(tbl[idx].name,8,name,9)==0:",
        "            return idx",
        "    return -1",
    ]


def test_block_is_written_once_with_the_statement_indentation_and_line(zel_ns):
    tree = ast.parse("if x:\n    import os, zel\nimport zel as z\nfrom zel import range")
    unparser = zel_ns.ZELUnparser()
    unparser.traverse(tree)
    unparser.finalize()
    assert "".join(unparser._source).splitlines() == [
        "if x:#lInE1EnIl",
        "    import os#lInE2EnIl",
        f"    {STRCMP}#lInE2EnIl",
    ]


@pytest.mark.parametrize(
    "source, lines",
    [
        ("import numpy as np\nimport zel", ["import numpy as np", "cimport numpy as np", STRCMP]),
        ("import numpy as np, numpy", ["import numpy as np, numpy", "cimport numpy"]),
        ("import numpy.linalg as la", ["import numpy.linalg as la"]),
        (
            "from numpy import zeros\nimport zel\nimport zel",
            ["from numpy import zeros", STRCMP, "import numpy as _zel_numpy_", "cimport numpy as _zel_numpy_",
             "import numpy as _zel_numpy_", "cimport numpy as _zel_numpy_"],
        ),
        ("from numpy import zeros\nfrom zel import level", ["from numpy import zeros", STRCMP]),
        ("from . import zel\nfrom os import path", ["from . import zel", "from os import path"]),
    ],
)
def test_import_lines(zel_ns, source, lines):
    assert emit_source(zel_ns, source) == lines


def test_tagged_import_statement_becomes_cimport(zel_ns):
    statement = ast.parse("import openmp").body[0]
    setattr(statement, zel_ns.ZELAst.cidx, True)
    assert emit(zel_ns, ast.Module([statement], [])) == "cimport openmp"


def test_records_script_block_and_declarations(zel_ns):
    lines = emit_source(
        zel_ns,
        """
        import zel
        import numpy as np
        dt = np.dtype([('name', 'S5'), ('price', 'f8'), ('qty', 'i4', (3,))])
        rec = np.genfromtxt('stock.csv', dtype=dt, delimiter=',')
        p: dt = rec[2]
        i = rec('abc')
        ok = rec[i]['name'] == 'abc'
        """,
    )
    assert lines == [
        "cdef public packed struct _struct_dt:",
        "    char name[5]",
        "    double price",
        "    int qty[3]",
        STRCMP,
        *text_helpers(5),
        "cdef long long _lookup_dt(_struct_dt[::1] tbl,char* name) noexcept nogil:",
        "    cdef long long idx",
        "    for idx in range(len(tbl)):",
        "        if _zel_fieldcmp_(tbl[idx].name,5,name,6)==0:",
        "            return idx",
        "    return -1",
        "import numpy as np",
        "cimport numpy as np",
        "dt = np.dtype([('name', 'S5'), ('price', 'f8'), ('qty', 'i4', (3,))])",
        "cdef _struct_dt[::1] rec = np.genfromtxt('stock.csv', dtype=dt, delimiter=',')",
        "cdef _struct_dt[::1] _zel_keep_p",
        "_zel_keep_p = rec",
        "cdef _struct_dt* p = &rec[2]",
        "i = _lookup_dt(rec, 'abc')",
        "ok = _zel_fieldcmp_(rec[i].name, 5, 'abc', 6) == 0",
    ]
