"""A Python value stored into a C integer: ints, bools and numpy integers convert; anything
else raises TypeError as Python's integer-only contexts do; a store into an integer element of
a typed array or record truncates a float as numpy's store does. A text of one character where
a C integer is wanted stops the build: the compiler would read it as the character's code."""

import pytest

HEAD = "import zel\nimport numpy as np\n"


@pytest.mark.parametrize("body, line, message", [
    # A typed name at module level, assigned a Python float.
    ("x = 2.5\nk: int = 1\nk = x\nprint(k)\n", 5, "'float' object cannot be interpreted as an integer"),
    # A numpy float and a string into a typed name inside a function.
    ("def f(v):\n    k: int = 0\n    k = v\n    return k\n\n"
     "print(f(3), f(np.int32(4)), f(True))\nprint(f(np.float64(1.5)))\n",
     5, "'numpy.float64' object cannot be interpreted as an integer"),
    ("def f(v):\n    k: 'i4' = 0\n    k = v\n    return k\n\nprint(f('3'))\n",
     5, "'str' object cannot be interpreted as an integer"),
    # A parameter of a function whose parameters are typed: reported on the function's line.
    ("def part(n: int):\n    return n + 1\n\nprint(part(2))\nprint(part(2.5))\n",
     3, "'float' object cannot be interpreted as an integer"),
    # The argument of a fully typed function, given a Python float.
    ("def twice(k: int) -> int:\n    return k * 2\n\nx = 2.5\nprint(twice(3))\nprint(twice(x))\n",
     8, "'float' object cannot be interpreted as an integer"),
])
def test_a_value_that_is_not_an_integer_raises(runner, body, line, message):
    built = runner.run_script("built.py", HEAD + body)
    report = built.stdout.splitlines()
    assert (report[-3].split(", in ")[0], report[-1], built.returncode) == (
        f'File "built.py",  line {line}', message, 1), built.stdout + built.stderr


def test_integers_convert_and_elements_store_as_numpy(runner):
    source = HEAD + """
rec = np.dtype([('v', 'i8'), ('w', 'f8')])
tbl = np.zeros(2, rec)
a = np.zeros(4, 'i8')
x = 2.5
a[0] = x
a[1] = np.float64(-7.9)
a[2] = True
a[3] = np.int16(5)
print(np.asarray(a).tolist())
k: int = 0
for v in [3, True, np.int32(4), 2 ** 40]:
    k = v
    print(k * 2)
print('%d' % x, int(x))
"""
    runner.assert_prints_as_cpython("built.py", source)


@pytest.mark.parametrize("body, line", [
    ("k: int = 'a'\nprint(k)\n", 3),
    ("k: 'i4' = 0\nk = b'a'\nprint(k)\n", 4),
    ("k: int = 97\nprint(k == 'a')\n", 4),
    ("def code() -> int:\n    return 'a'\n\nprint(code())\n", 4),
    ("def next_(k: int) -> int:\n    return k + 1\n\nprint(next_('a'))\n", 6),
])
def test_a_one_character_text_for_a_c_integer_stops_the_build(runner, body, line):
    built = runner.run_script("built.py", HEAD + body)
    listing = built.stdout.splitlines()
    assert built.returncode == 1, built.stdout + built.stderr
    assert listing[-1].endswith("the text 'a' stands where a C integer is wanted, where Python "
                                "keeps it a text; write ord('a') for its code"), built.stdout
    assert listing[-4].endswith(f"EnIl {line}"), built.stdout


def test_a_one_character_text_compared_with_a_character_of_a_text(runner):
    source = HEAD + """
def count(s: str, n: int) -> int:
    found: int = 0
    for c in s:
        if c == 'a':
            found += 1
    return found + ord('a') * n

print(count('banana', 0), count('', 1))
"""
    runner.assert_prints_as_cpython("built.py", source)
