"""Helpers of the in-process tests: a script rewritten by ZELAst, and the .pyx text written for it."""
import ast
import pathlib
import re
import textwrap

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
MARKER = re.compile(r"#lInE-?\d+EnIl")


def rewrite(ns, source):
    tree = ast.parse(textwrap.dedent(source))
    ns.ZELAst.restruct(tree)
    return tree


def emit(ns, tree):
    """The .pyx text written for `tree`, without its line markers."""
    unparser = ns.ZELUnparser()
    unparser.traverse(tree)
    unparser.finalize()
    return MARKER.sub("", "".join(unparser._source))


# Every C function tests its stack on entry; the test's runtime comes once, before the first.
STACK_TEST = ["    if _zel_stack_low_():", "        _zel_recursion_error_()"]


def without_stack_test(text):
    """The .pyx text without the stack test of C functions and its runtime, for tests of the rest."""
    lines, kept = text.splitlines(keepends=True), []
    skip_runtime = False
    for number, line in enumerate(lines):
        if line.startswith("cdef extern from *:") and "_zel_stack_low" in "".join(lines[number:number + 4]):
            skip_runtime = True
            continue
        if skip_runtime and line.startswith("    "):
            continue
        skip_runtime = False
        if line.strip() in ("if _zel_stack_low_():", "_zel_recursion_error_()"):
            continue
        kept.append(line)
    return "".join(kept)


def pyx_lines(ns, source):
    return emit(ns, rewrite(ns, source)).splitlines()


def example_pyx_lines(ns, name):
    """The .pyx lines written for one of the example scripts, read as it is."""
    tree = ast.parse((EXAMPLES / name).read_text(encoding="utf-8"))
    ns.ZELAst.restruct(tree)
    return emit(ns, tree).splitlines()
