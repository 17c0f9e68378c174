"""The constants of ZELConst and the class attributes ZELAst starts with."""
import ast

import pytest


def test_const_attribute_order(zel_ns):
    own = [n for n in vars(zel_ns.ZELConst) if not n.startswith("__")]
    assert own == ["ast_None", "cpp_prefix", "zelrange", "pyx_prefix", "pattern1", "pattern2",
                   "pattern3", "param_numpy_dtype", "param_numpy_zeros", "param_numpy_genfromtxt"]


def test_texts(zel_ns):
    c = zel_ns.ZELConst
    assert c.cpp_prefix == ("#pragma warning(disable: 4244 4996 4018 4101 4305 4700 4701 4702 "
                            "4715 4800 4819 4551)\n")
    assert len(c.cpp_prefix) == 86 and c.cpp_prefix.count("\n") == 1
    assert (c.zelrange, c.pattern1, c.pattern2, c.pattern3) == (
        "_cp_prange_", "#lInE", "EnIl", "Cython file:")
    assert type(c.pyx_prefix) is list and c.pyx_prefix == [
        "from cython.parallel import prange as _cp_prange_",
        "import openmp",
        "r(0,nogil=True,num_threads=openmp.omp_get_max_threads(),schedule='guided')",
    ]


def test_parallel_keywords_parse(zel_ns):
    call = ast.parse(zel_ns.ZELConst.pyx_prefix[2], mode="eval").body
    assert [(k.arg, ast.unparse(k.value)) for k in call.keywords] == [
        ("nogil", "True"), ("num_threads", "openmp.omp_get_max_threads()"),
        ("schedule", "'guided'")]


def test_ast_none_node(zel_ns):
    node = zel_ns.ZELConst.ast_None
    assert type(node) is ast.Constant and node.value is None
    assert not hasattr(node, "lineno")


def test_plain_parameter_descriptions(zel_ns):
    c = zel_ns.ZELConst
    assert c.param_numpy_dtype == {"args": ["dtype", "align", "copy", "metadata"],
                                   "defaults": [False, None, None], "keyword_only": []}
    assert c.param_numpy_zeros == {"args": ["shape", "dtype", "order"],
                                   "defaults": ["numpy.float64", "C"], "keyword_only": []}
    assert list(c.param_numpy_dtype) == ["args", "defaults", "keyword_only"]


def test_genfromtxt_description(zel_ns):
    c = zel_ns.ZELConst
    d = c.param_numpy_genfromtxt
    assert list(d) == ["args", "defaults", "keyword_only"]
    assert d["args"] == [
        "fname", "dtype", "comments", "delimiter", "skip_header", "skip_footer", "converters",
        "missing_values", "filling_values", "usecols", "names", "excludelist", "deletechars",
        "replace_space", "autostrip", "case_sensitive", "defaultfmt", "unpack", "usemask",
        "loose", "invalid_raise", "max_rows", "encoding"]
    assert len(d["defaults"]) == 21
    assert all(default is c.ast_None for default in d["defaults"])
    assert d["keyword_only"] == ["ndmin", "like"]
    # Defaults align with the last arguments: fname and dtype have none.
    first_with_default = len(d["args"]) - len(d["defaults"])
    assert d["args"][first_with_default] == "comments"


def test_fresh_constants_per_import(zel_ns):
    from conftest import load_classes
    assert load_classes().ZELConst.ast_None is not zel_ns.ZELConst.ast_None


ZELAST_ATTRIBUTES = [
    ("cidx", "_cdef_"), ("didx", "_dtype_"), ("pidx", "_projection_block_"),
    ("midx", "_mp_block_"), ("vidx", "_is_view_"), ("lidx", "_lookup_"),
    ("dup_chk_idx", "_already_"), ("ref_idx", "_ref_"), ("call", "_zel_call_attr_"),
    ("tidx", "_tchk"), ("RANGE", "zel.range"), ("PROJECTION", "zel.projection"),
    ("NUMPY", "_zel_numpy_"), ("struct_def", {}), ("lookup_def", {}), ("openmp", False),
    ("numpy_name", None),
]


def test_ast_attributes_in_order(zel_ns):
    a = zel_ns.ZELAst
    own = [n for n in vars(a) if not n.startswith("__")]
    expected = [n for n, _ in ZELAST_ATTRIBUTES] + ["_Unparser", "py314", "type_table",
                                                    "ignore_attr", "inherit_attr"]
    assert own[:len(expected)] == expected
    assert [(n, getattr(a, n)) for n, _ in ZELAST_ATTRIBUTES] == ZELAST_ATTRIBUTES
    assert a.openmp is False
    assert a.struct_def is not a.lookup_def


def test_host_unparser(zel_ns):
    a = zel_ns.ZELAst
    try:
        from _ast_unparse import Unparser
        assert (a._Unparser, a.py314) == (Unparser, True)
    except ImportError:
        assert (a._Unparser, a.py314) == (ast._Unparser, False)


def test_tables(zel_ns):
    a = zel_ns.ZELAst
    assert list(a.type_table.items()) == [
        ("'i4'", "int"), ("'i8'", "long long"), ("'f4'", "float"), ("'f8'", "double"),
        ("int", "long long"), ("float", "double"), ("numpy.int32", "int"),
        ("numpy.int64", "long long"), ("numpy.float32", "float"), ("numpy.float64", "double")]
    assert a.ignore_attr == ["col_offset", "lineno", "end_lineno", "end_col_offset", "ctx"]
    assert a.inherit_attr == ["_projection_block_", "_mp_block_"]
    assert all(value.startswith("_") for value in
               (a.cidx, a.didx, a.pidx, a.midx, a.vidx, a.lidx, a.dup_chk_idx, a.ref_idx,
                a.call, a.tidx))


@pytest.mark.parametrize("name", ["struct_def", "lookup_def"])
def test_registries_fresh_per_import(zel_ns, name):
    from conftest import load_classes
    assert getattr(load_classes().ZELAst, name) is not getattr(zel_ns.ZELAst, name)
