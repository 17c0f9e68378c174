"""Scripts whose syntax trees are as deep as the interpreter's parser builds them: the
rewriting, the emitter and Cython recurse per level of the tree, and still run them."""
import sys

import pytest

from messages import FATAL

SUM_NEAR_THE_PARSER_LIMIT = 2980
# CPython 3.12 bounds the depth of calls in C at a fixed number that no setting raises: there,
# a tree deeper than about a thousand levels stops the compile with one line instead.
FIXED_C_DEPTH = sys.version_info[:2] == (3, 12)


@pytest.mark.parametrize("depth, source", [
    (250, "x = " + " + ".join(["1"] * 250) + "\nprint(x)\n"),
    (1000, "x = " + " + ".join(["1"] * 1000) + "\nprint(x)\n"),
    (SUM_NEAR_THE_PARSER_LIMIT,
     "x = " + " + ".join(["1"] * SUM_NEAR_THE_PARSER_LIMIT) + "\nprint(x)\n"),
    # Typed terms: Cython writes one C expression as deep as the sum.
    (SUM_NEAR_THE_PARSER_LIMIT,
     "y: float = 0.5\nx: float = " + " + ".join(["y"] * SUM_NEAR_THE_PARSER_LIMIT) + "\nprint(x)\n"),
    (SUM_NEAR_THE_PARSER_LIMIT, "x = " + "-" * SUM_NEAR_THE_PARSER_LIMIT + "1\nprint(x)\n"),
    (1000, "x = 3\nif x == 0:\n    pass\n" + "elif x == 1:\n    pass\n" * 1000 + "else:\n    print(x)\n"),
], ids=["sum-250", "sum-1000", "sum-2980", "typed-sum-2980", "negations-2980", "elif-1000"])
def test_deep_tree_runs_as_in_python(runner, depth, source):
    plain = runner.run_script("plain_deep.py", source)
    built = runner.run_script("deep.py", "import zel\n" + source)
    assert plain.returncode == 0, plain.stderr
    if FIXED_C_DEPTH and depth >= 1000:
        assert (built.returncode, built.stderr) == (255, "")
        assert built.stdout.startswith("# COMPILE..\n" + FATAL + "RecursionError: ")
        return
    assert (built.returncode, built.stdout, built.stderr) == (
        0, "# COMPILE..\n# RUN\n" + plain.stdout, "")
