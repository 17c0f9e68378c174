"""A test-only build of the C++ that zel generates for a script, with AddressSanitizer.

The product's own build keeps its switches; this helper translates a script as the compile
step does and compiles the C++ by hand with g++, so that a test can run the script's module
under the sanitizer's runtime.
"""
import ast
import os
import subprocess
import sys
import sysconfig
import textwrap

import numpy

SWITCHES = ["-std=c++17", "-O1", "-g", "-fsanitize=address", "-fno-omit-frame-pointer",
            "-fopenmp", "-shared", "-fPIC", "-w"]


def asan_runtime():
    """The path of g++'s AddressSanitizer runtime, or None when there is none."""
    try:
        found = subprocess.run(["g++", "-print-file-name=libasan.so"], capture_output=True,
                               text=True, timeout=60).stdout.strip()
    except OSError:
        return None
    return found if os.path.isabs(found) and os.path.exists(found) else None


def generated_cpp(ns, source, stem):
    """The C++ text the compile step makes of `source`, with the classes of `ns`."""
    tree = ast.parse(textwrap.dedent(source))
    ns.ZELAst.restruct(tree)
    pyx, line_map = ns.ZEL.unparse(tree, ns.ZELAst.openmp)
    return ns.ZELCython.convert(pyx, stem, line_map)


def build_with_asan(ns, source, directory, stem):
    """Builds `source` as the extension module `stem` in `directory`."""
    cpp = directory / f"{stem}.cpp"
    cpp.write_text(generated_cpp(ns, source, stem), encoding="utf-8")
    module = directory / (stem + sysconfig.get_config_var("EXT_SUFFIX"))
    includes = [f"-I{sysconfig.get_paths()['include']}", f"-I{numpy.get_include()}"]
    subprocess.run(["g++", *SWITCHES, *includes, str(cpp), "-o", str(module)], check=True,
                   capture_output=True, text=True, timeout=900)


def run_with_asan(runtime, directory, stem):
    """Imports the module, which runs the script, under the sanitizer's runtime."""
    env = dict(os.environ, LD_PRELOAD=runtime, ASAN_OPTIONS="detect_leaks=0")
    return subprocess.run([sys.executable, "-c", f"import {stem}"], cwd=directory, env=env,
                          capture_output=True, text=True, timeout=600)
