"""In-memory translation of the .pyx text to C++: capture, error listing, line and file mapping."""
import re
import types

import pytest

PREFIX = "#pragma warning(disable: 4244 4996 4018 4101 4305 4700 4701 4702 4715 4800 4819 4551)\n"


def line_map(pyx):
    """The .pyx line number to script line number map of the markers in the text."""
    found = ((i, re.search(r"#lInE(-?\d+)EnIl$", line)) for i, line in enumerate(pyx.split("\n"), 1))
    return {i: int(m.group(1)) for i, m in found if m}


@pytest.fixture
def compiler(zel_ns, monkeypatch):
    """Stands in for the compiler's pipeline: writes the given files through the module node's
    opener and the given listing as reported errors, or raises the given exception."""
    cython = zel_ns.ZELCython
    stand_in = types.SimpleNamespace(files={}, listing="", errors=0, raises=None)

    def run_pipeline(stages, source, printtree):
        errors = cython.Errors
        if stand_in.listing:
            errors.threadlocal.cython_errors_echo_file.write(stand_in.listing)
        errors.threadlocal.cython_errors_count += stand_in.errors
        if stand_in.raises:
            raise stand_in.raises
        for path, text in stand_in.files.items():
            f = cython.ModuleNode.open_new_file(path)
            f.write(text)
            f.close()
        return None, source

    monkeypatch.setattr(cython, "Pipeline", types.SimpleNamespace(
        create_pyx_pipeline=lambda context, options, result: [], run_pipeline=run_pipeline))
    return stand_in


@pytest.fixture(autouse=True)
def in_tmp(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_lines_are_mapped_to_the_script(zel_ns, compiler):
    compiler.files = {"<in-memory>": (
        "/* Generated */\r\n"
        "  if (!x) __PYX_ERR(0, 7, __pyx_L1_error)\r\n"
        "  if (!y) __PYX_ERR(1, 7, __pyx_L1_error)\n"
        "  __PYX_ERR(0, 8, a) __PYX_ERR(0, 99, b)\n"
        'static const char* const __pyx_f[] = { "demo.pyx", "demo.pyx" };\n'
        '/* "demo.pyx":7\n')}
    out = zel_ns.ZELCython.convert("x = 1", "demo", {7: 3, 8: 4})
    assert out == PREFIX + (
        "/* Generated */\n"
        "  if (!x) __PYX_ERR(0, 3, __pyx_L1_error)\n"
        "  if (!y) __PYX_ERR(1, 7, __pyx_L1_error)\n"
        "  __PYX_ERR(0, 4, a) __PYX_ERR(0, 99, b)\n"
        'static const char* const __pyx_f[] = { "demo.py", "demo.pyx" };\n'
        '/* "demo.py":7')


def test_file_name_inside_the_packed_string_constants_is_left_alone(zel_ns, compiler):
    # The constants are cut out of one literal by their lengths: the name must keep its length.
    packed = 'static const char bytes[] = "?demo.pyx__main____name__print";'
    compiler.files = {"<in-memory>": packed + "\n"}
    assert zel_ns.ZELCython.convert("x = 1", "demo", {1: 1}) == PREFIX + packed


def test_without_a_line_map_the_text_comes_back_as_captured(zel_ns, compiler):
    text = '  __PYX_ERR(0, 9, e)\r\n  "demo.pyx"\n'
    compiler.files = {"<in-memory>": text}
    assert zel_ns.ZELCython.convert("x = 1", "demo", {}) == text


def test_a_line_the_map_lacks_is_a_compile_error(zel_ns, compiler):
    compiler.files = {"<in-memory>": "__PYX_ERR(0, 7, e)\n__PYX_ERR(0, 9, e)\n"}
    with pytest.raises(zel_ns.ZELCython.CompileError) as caught:
        zel_ns.ZELCython.convert("x = 1", "demo", {7: 3})
    assert str(caught.value) == "fatal: line mismatch. target_line=9"
    assert str(zel_ns.ZELCython.CompileError()) == "ZELCython.Error"


REMAINDER_HELPERS = """\
static CYTHON_INLINE long long __Pyx_mod_long_long(long long a, long long b, int b_is_constant) {
    long long r = a % b;
    return r;
}
static CYTHON_INLINE double __Pyx_mod_double(double a, double b, int b_is_constant) {
    double r = fmod(a, b);
}
static CYTHON_INLINE long __Pyx_div_long(long a, long b, int b_is_constant) {
    long r = a % b;
}
    __pyx_t_1 = (__pyx_v_a % __pyx_v_b);"""


def test_remainder_helpers_take_a_divisor_of_minus_one_aside(zel_ns, compiler):
    # The smallest integer by -1 overflows in C; Python's remainder by -1 is always 0.
    compiler.files = {"<in-memory>": REMAINDER_HELPERS}
    out = zel_ns.ZELCython.convert("x = 1", "demo", {1: 1})
    assert out == PREFIX + REMAINDER_HELPERS.replace(
        "long long r = a % b;", "long long r = (b == -1) ? 0 : a % b;")


@pytest.mark.parametrize(
    "files, expected",
    [
        ({"demo.h": "header", "other.c": "a longer text", "demo.cpp": "main"}, "main"),
        ({"<in-memory>": "the longer text", "<in-memory>.h": "header"}, "the longer text"),
        ({"a.h": "same", "b.h": "size"}, "same"),
    ],
)
def test_main_text(zel_ns, compiler, files, expected):
    compiler.files = files
    assert zel_ns.ZELCython.convert("x = 1", "demo", {}) == expected
    assert zel_ns.ZELCython._CaptureBuffer.all_captured == files


LISTING = (
    "\n"
    "Error compiling Cython file:\n"
    "...\n"
    "cdef int a = 1#lInE-1EnIl\n"
    "x = undefined#lInE12EnIl\n"
    "#lInE5EnIl starts the piece\n"
    "s = 'EnIl'#lInE7EnIl\n"
    "t = '#lInEx'#lInE8EnIl\n"
    "    ^\n"
    "\n"
    "demo.pyx:2:4: undeclared name not builtin: undefined\n"
)


def test_failed_translation_prints_the_listing_with_script_lines(zel_ns, compiler, capsys):
    compiler.listing, compiler.errors = LISTING, 1
    compiler.files = {"<in-memory>": "text"}
    saved = zel_ns.ZELCython.ModuleNode.open_new_file
    with pytest.raises(SystemExit) as caught:
        zel_ns.ZELCython.convert("x = 1", "demo", {1: 1})
    assert caught.value.code == 1
    assert zel_ns.ZELCython.ModuleNode.open_new_file is saved
    assert capsys.readouterr().out.splitlines() == [
        "Error compiling Cython file:",
        "...",
        "** x = undefined#lInE12EnIl 12",
        "#lInE5EnIl starts the piece",
        "** s = 'EnIl'#lInE7EnIl 7",
        "t = '#lInEx'#lInE8EnIl",
        "    ^",
        "demo.pyx:2:4: undeclared name not builtin: undefined",
    ]


def test_nothing_written_is_a_failure(zel_ns, compiler, capsys):
    saved = zel_ns.ZELCython.ModuleNode.open_new_file
    with pytest.raises(SystemExit) as caught:
        zel_ns.ZELCython.convert("x = 1", "demo", {1: 1})
    assert caught.value.code == 1
    assert capsys.readouterr().out == ""
    assert zel_ns.ZELCython.ModuleNode.open_new_file is saved


# A fault of the translation itself, not an error of the script: it goes on to the caller,
# which reports it in one line, also when the compiler had written its output by then.
def test_an_exception_from_the_compiler_propagates_with_the_opener_restored(zel_ns, compiler, capsys):
    compiler.raises = ValueError("inside")
    saved = zel_ns.ZELCython.ModuleNode.open_new_file
    with pytest.raises(ValueError, match="inside"):
        zel_ns.ZELCython.convert("x = 1", "demo", {1: 1})
    assert zel_ns.ZELCython.ModuleNode.open_new_file is saved
    assert capsys.readouterr().out == ""


def test_an_exception_after_the_output_was_written_propagates(zel_ns, compiler):
    compiler.files = {"<in-memory>": "text"}

    def teardown(*args):
        raise RuntimeError("late")

    real = zel_ns.ZELCython.Context.from_options
    zel_ns.ZELCython.Context = types.SimpleNamespace(from_options=lambda options: types.SimpleNamespace(
        setup_errors=real(options).setup_errors, teardown_errors=teardown))
    with pytest.raises(RuntimeError, match="late"):
        zel_ns.ZELCython.convert("x = 1", "demo", {})


def test_an_interrupt_propagates_with_the_opener_restored(zel_ns, compiler):
    compiler.raises = KeyboardInterrupt()
    saved = zel_ns.ZELCython.ModuleNode.open_new_file
    with pytest.raises(KeyboardInterrupt):
        zel_ns.ZELCython.convert("x = 1", "demo", {1: 1})
    assert zel_ns.ZELCython.ModuleNode.open_new_file is saved


def test_in_memory_source_reads_afresh(zel_ns):
    source = zel_ns.ZELCython._InMemorySource("a = 1\n", "/nowhere/demo.pyx")
    first, second = source.get_file_object(), source.get_file_object("latin-1", "strict")
    assert first.read() == second.read() == "a = 1\n"
    assert first.encoding == "UTF-8"
    assert source.filename == "/nowhere/demo.pyx"


# The real compiler from here on.

PYX = "\n".join([
    "from cython.parallel import prange as _cp_prange_#lInE-1EnIl",
    "cimport openmp#lInE-1EnIl",
    "def f(int n):#lInE11EnIl",
    "    cdef long long i, s = 0#lInE11EnIl",
    "    for i in _cp_prange_(n, nogil=True):#lInE12EnIl",
    "        s += i#lInE13EnIl",
    "    if s > 5:#lInE14EnIl",
    "        raise ValueError('boom')#lInE15EnIl",
    "    return s#lInE16EnIl",
    "def threads():#lInE18EnIl",
    "    cdef int i, t = 0#lInE19EnIl",
    "    for i in _cp_prange_(2, nogil=True, num_threads=2):#lInE20EnIl",
    "        t = openmp.omp_get_num_threads()#lInE21EnIl",
    "    return t#lInE22EnIl",
    "print(f(3))#lInE23EnIl",
])


def test_real_translation_is_captured_and_mapped(zel_ns, in_tmp):
    saved = zel_ns.ZELCython.ModuleNode.open_new_file
    out = zel_ns.ZELCython.convert(PYX, "demo", line_map(PYX))
    assert zel_ns.ZELCython.ModuleNode.open_new_file is saved
    assert list(in_tmp.iterdir()) == []  # nothing reached the disk
    assert out.startswith(PREFIX) and not out.endswith("\n")
    referenced = {int(n) for n in re.findall(r"__PYX_ERR\(0, (-?\d+),", out)}
    assert referenced and referenced <= set(line_map(PYX).values())
    assert '"demo.py",' in out and '"demo.pyx"' not in out


def test_real_compile_errors_list_script_lines(zel_ns, capsys):
    pyx = "cdef int a = 1#lInE4EnIl\nb = undefined_name + 1#lInE5EnIl\n"
    with pytest.raises(SystemExit) as caught:
        zel_ns.ZELCython.convert(pyx, "demo", line_map(pyx))
    assert caught.value.code == 1
    out = capsys.readouterr().out.splitlines()
    assert "** cdef int a = 1#lInE4EnIl 4" in out
    assert "** b = undefined_name + 1#lInE5EnIl 5" in out
    assert any("undeclared name not builtin: undefined_name" in line for line in out)


UNTYPED_INDEX = (
    "import numpy#lInE1EnIl\n"
    "cdef double[:] a = numpy.zeros(3)#lInE2EnIl\n"
    "i = 1#lInE3EnIl\n"
    "a[i] = 2#lInE4EnIl\n"
)


def test_real_translation_gives_no_performance_hints(zel_ns, capfd):
    zel_ns.ZELCython.convert(UNTYPED_INDEX, "demo", line_map(UNTYPED_INDEX))
    assert capfd.readouterr() == ("", "")
    pyx = UNTYPED_INDEX + "b = undefined_name#lInE5EnIl\n"
    with pytest.raises(SystemExit):
        zel_ns.ZELCython.convert(pyx, "demo", line_map(pyx))
    out = capfd.readouterr().out
    assert "undeclared name not builtin: undefined_name" in out
    assert "performance hint" not in out


def test_module_level_arrays_filled_at_run_time_are_writable(zel_ns):
    # A loop over a display of C values runs over a C array; filled at run time, it must not
    # be declared const, which C++ refuses. An array of literals stays const.
    pyx = ("cdef double x = 1.0#lInE1EnIl\n"
           "for v in [x, 2.0]:#lInE2EnIl\n"
           "    print(v)#lInE3EnIl\n"
           "for w in [3.0, 4.0]:#lInE4EnIl\n"
           "    print(w)#lInE5EnIl\n")
    out = zel_ns.ZELCython.convert(pyx, "demo", line_map(pyx))
    arrays = re.findall(r"static double (const )?(\w+)\[2\]( = \{[^}]*\})?;", out)
    assert sorted((bool(const), bool(init)) for const, _, init in arrays) == [
        (False, False), (True, True)]


def test_loops_over_displays_of_c_values_run(runner):
    source = (
        "import zel\n"
        "x: float = 1.0\n"
        "n: int = 3\n"
        "for v in [float('nan'), x, 1e19]:\n"
        "    print(v)\n"
        "for k in (n, 2, n * 2):\n"
        "    print(k)\n"
        "def f(y: float) -> float:\n"
        "    s: float = 0.0\n"
        "    for v in (y, 2.0, 3.0):\n"
        "        s += v\n"
        "    return s\n"
        "print(f(1.0), [v * 2 for v in [x, 2.5]])\n"
    )
    runner.assert_prints_as_cpython("displays.py", source)
