"""Record tables run as scripts: faults, and constructs that stay as written."""
import textwrap

import pytest

UNDERSTOOD_OR_NOT = '''
import zel
import numpy as np

kw = np.zeros(3, dtype='f8')
odd = np.dtype([('a', 'f8'), ('b', 'c16')])
rows = np.zeros(2, odd)
rows['a'][1] = 2.5
print(kw, rows['a'], zel.type(rows))

# Fields of every size line up with the packed rows numpy makes.
rec = np.dtype([('flag', 'S2'), ('x', 'f8'), ('n', 'i4'), ('code', 'S3'), ('y', 'f4')])
rows_in = np.array([(b'', 0, 0, b'', 0), (b'y', 1.5, 7, b'ab', 0.25)], dtype=rec)
t: (2, rec) = rows_in
one: rec = t[1]
print(one['flag'], one['x'], one['n'], one['code'], one['y'], t(b'y'), t(b'z'))
'''


def test_unknown_constructs_stay_beside_packed_records(runner):
    result = runner.run_script("mixed.py", UNDERSTOOD_OR_NOT)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines()[2:] == [
        "[0. 0. 0.] [0.  2.5] PyObj",
        "b'y' 1.5 7 b'ab' 0.25 1 -1",
    ]


FULL_TEXT_FIELDS = '''
import zel
import numpy as np

# b'ALPHA' fills its field: no NUL between it and the float's bytes.
dt = np.dtype([('t', 'S5'), ('v', 'f8')])
rows = np.array([(b'ALPHA', 1.1), (b'BETA', 2.2)], dtype=dt)
t: ((2,), dt) = rows
print(t[0]['t'], t[1]['t'])
print(t(b'ALPHA'), t(b'BETA'), t(b'ALPH'), t(b'ALPHAB'), t(t[1]['t']))
n = 0
for i in range(2):
    if t[i]['t'] == b'ALPHA':
        n += 1
    if t[i]['t'] == b'BETA':
        n += 10
    if t[i]['t'] != b'ALPHA':
        n += 100
print(n)
p: dt = t[0]
print(p['t'], p['t'] == b'ALPHA', p['t'] == b'ALPH', b'ALPHA' == p['t'])
t[1]['t'] = b'GAMMA'
print(t[1]['t'], t(b'GAMMA'), t(b'ALPHA').t, t(b'GAMMA').t == b'GAMMA')
'''


def test_text_fields_that_fill_their_length(runner):
    result = runner.run_script("full.py", FULL_TEXT_FIELDS)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines()[2:] == [
        "b'ALPHA' b'BETA'",
        "0 1 -1 -1 1",
        "111",
        "b'ALPHA' True False True",
        "b'GAMMA' 1 b'ALPHA' True",
    ]


STORED_TEXT_FIELDS = '''
import zel
import numpy as np

dt = np.dtype([('name', 'S8'), ('v', 'f8')])
short = np.dtype([('code', 'S3'), ('n', 'i4')])
t: ((4,), dt) = np.zeros(4, dt)
c: ((2,), short) = np.zeros(2, short)
t[0]['name'] = b'abc'
t[1]['name'] = b'abcdefghijk'
t[2]['name'] = b'zzzzzzzz'
t[2]['name'] = t[0]['name']
c[0]['code'] = b'xyz'
t[3]['name'] = c[0]['code']
print(np.asarray(t)['name'].tolist())
s: 'S8' = t[1]['name']
print(s)
s = t[0]['name']
print(s)

def fill(i: 'i4', j: 'i4') -> 'i4':
    t[i]['name'] = b'typed'
    t[j]['name'] = t[i]['name']
    c[1]['code'] = t[i]['name']
    u: 'S8' = t[j]['name']
    if t[j]['name'] == b'typed':
        return 1
    return 0

print(fill(0, 3), np.asarray(t)['name'].tolist(), np.asarray(c)['code'].tolist())
'''


def test_text_fields_stored_as_numpy_stores_them(runner):
    result = runner.run_script("stored.py", STORED_TEXT_FIELDS)
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines()[2:] == [
        "[b'abc', b'abcdefgh', b'abc', b'xyz']",
        "b'abcdefgh'",
        "b'abc'",
        "1 [b'typed', b'abcdefgh', b'abc', b'typed'] [b'xyz', b'typ']",
    ]


@pytest.mark.parametrize(
    "body, message",
    [
        # compiled code has no bytes to read a text's byte from
        ("def first(s: 'S8') -> int:\n    return s[0]",
         "구조체 첨자는 문자열이어야 합니다. s[0] line 5"),
        (
            "dt = np.dtype([('k', 'i4')])\nt = np.zeros(4, dt)\np: dt = t[0]\nprint(p[1])",
            "구조체 첨자는 문자열이어야 합니다. p[1] line 7",
        ),
    ],
)
def test_subscript_of_pointer_ends_the_compile(runner, body, message):
    result = runner.run_script("bad.py", "import zel\nimport numpy as np\n\n" + body + "\n")
    assert result.returncode == 10
    assert result.stdout.splitlines()[-1] == message
    assert "# RUN" not in result.stdout


def test_record_text_length_read_at_run_time(runner):
    # The dtype stays an untyped value, built and checked by numpy when the script runs.
    source = textwrap.dedent("""\
        import zel
        import numpy as np
        w = 4
        dt = np.dtype([('name', 'S%d' % w), ('v', 'i8')])
        tbl = np.zeros(3, dt)
        tbl[0]['name'] = b'abcdef'
        print(tbl[0]['name'], tbl['v'].sum())
        try:
            np.dtype([('a', 'Sx')])
        except TypeError as e:
            print(type(e).__name__)
    """)
    runner.assert_prints_as_cpython("widths.py", source)


def test_chained_store_into_text_fields(runner):
    # Every target takes the value itself, also a text member shorter than the one before it.
    source = textwrap.dedent("""\
        import zel
        import numpy as np
        dt = np.dtype([('name', 'S8'), ('v', 'i8'), ('tag', 'S3')])
        tbl = np.zeros(3, dt)
        tbl[0]['name'] = tbl[1]['name'] = b'x'
        s = tbl[2]['tag'] = tbl[2]['name'] = b'abcdefghij'
        tbl[1]['tag'] = tbl[0]['tag'] = tbl[2]['name']
        print(tbl[0]['name'], tbl[1]['name'], s, tbl[2]['tag'], tbl[2]['name'], tbl[1]['tag'])

        def f(t: (0, dt)) -> int:
            t[1]['tag'] = t[2]['name'] = b'zz'
            return 0
        f(tbl)
        print(tbl[1]['tag'], tbl[2]['name'])
    """)
    runner.assert_prints_as_cpython("chained.py", source)


# A record, or a text taken from one, outlives the array variable it came from: numpy's
# element keeps its array alive, and the bytes are a value of their own.
OUTLIVED_ARRAYS = '''
import zel
import numpy as np

rec = np.dtype([('v', 'i8'), ('name', 'S8')])
a = np.zeros(1000, rec)
a[0]['name'] = b'KEEPME'
top: rec = a[0]
s: 'S8' = a[0]['name']
a = np.zeros(3, rec)
filler = [np.ones(2000) for _ in range(20)]
top['v'] = 12345
print(top['v'], top['name'], s, len(s), a[0]['v'])
a[0]['name'] = b'OTHER'
print(s)

b = np.zeros(1000, rec)
for i in range(1000):
    b[i]['v'] = i
    here: rec = b[i]
for j in zel.range(1000):
    last: rec = b[j]
b = np.zeros(3, rec)
filler = [np.ones(2000) for _ in range(20)]
print(here['v'], last['v'])

def pick(n):
    t = np.zeros(n, rec)
    t[n - 1]['v'] = 7
    p: rec = t[n - 1]
    t = np.zeros(1, rec)
    return p['v']

print(pick(500))

def bump(i: int) -> int:
    p: rec = c[i]
    p['v'] += 5
    return p['v']

c = np.zeros(10, rec)
print(bump(3), bump(3), c[3]['v'])
'''

# Text members that fill their length have no NUL: every read stays within the member.
FULL_MEMBERS = '''
import zel
import numpy as np

rec = np.dtype([('name', 'S8'), ('k', 'i4')])
a = np.zeros(4, rec)
b = np.zeros(4, rec)
for i in range(4):
    a[i]['k'] = 7
    b[i]['k'] = 9
a[0]['name'] = b'ABCDEFGH'
b[0]['name'] = b'ABCDEFGH'
a[1]['name'] = b'ABC'
b[1]['name'] = b'ABCD'
s: 'S8' = a[0]['name']
print(len(s), s)

def same(i: int) -> int:
    if a[i]['name'] == b[i]['name']:
        return 1
    return 0

def get(i: int) -> 'S8':
    return a[i]['name']

def copied(i: int) -> 'S8':
    u: 'S8' = b[i]['name']
    return u

def is_full(t: 'S8') -> int:
    if t == b'ABCDEFGH':
        return 1
    return 0

def passes(i: int) -> int:
    return is_full(a[i]['name'])

print([same(i) for i in range(4)], get(0), get(1), copied(0), passes(0), passes(1))
hits: ((4,), 'i8') = np.zeros(4, 'i8')
for j in zel.range(4):
    w: 'S8' = a[j]['name']
    if a[j]['name'] == b[j]['name']:
        hits[j] += 1
    if w == b[j]['name']:
        hits[j] += 10
print(hits.tolist())
'''

# != compares contents as == does, also on attributes of record elements and on char* variables.
TEXT_INEQUALITY = '''
import zel
import numpy as np

rec = np.dtype([('name', 'S8'), ('k', 'i4')])
a: ((3,), rec) = np.rec.array(np.zeros(3, rec))
b: ((3,), rec) = np.rec.array(np.zeros(3, rec))
a[0]['name'] = b'same'
b[0]['name'] = b'same'
a[1]['name'] = b'ABCDEFGH'
b[1]['name'] = b'ABCDEFGH'
a[2]['name'] = b'left'
b[2]['name'] = b'right'

def differ(i: int) -> int:
    if a[i]['name'] != b[i]['name']:
        return 1
    return 0

def same_attribute(i: int) -> int:
    if a[i].name == b[i].name:
        return 1
    return 0

def differ_attribute(i: int) -> int:
    if a[i].name != b[i].name:
        return 1
    return 0

def differ_copies(i: int) -> int:
    x: 'S8' = a[i]['name']
    y: 'S8' = b[i]['name']
    if x != y:
        return 1
    return 0

print([(differ(i), same_attribute(i), differ_attribute(i), differ_copies(i)) for i in range(3)])
flags: ((3,), 'i8') = np.zeros(3, 'i8')
for i in zel.range(3):
    if a[i]['name'] != b[i]['name']:
        flags[i] += 1
    if a[i].name == b[i].name:
        flags[i] += 10
print(flags.tolist(), a[1].name != b[1].name, a[2].name == b[2].name)
'''

# Each text variable holds its own text: assigned from another one, from a function's result, or
# in a parallel loop, whose last iteration's text it holds after the loop.
OWN_TEXTS = '''
import zel
import numpy as np

rec = np.dtype([('name', 'S8'), ('k', 'i4')])
a = np.zeros(4, rec)
a[0]['name'] = b'first'
a[1]['name'] = b'ABCDEFGH'
a[2]['name'] = b'third'
a[3]['name'] = b'last'
t: 'S8' = b'none'
for i in range(3):
    s: 'S8' = a[i]['name']
    if i == 0:
        t = s
u: 'S8' = t
t = a[3]['name']
print(t, s, u)

def pairs(n: int) -> int:
    x: 'S8' = a[0]['name']
    y: 'S8' = x
    for j in range(n):
        x = a[j]['name']
    if y == b'first':
        return 1
    return 0

def get(i: int) -> 'S8':
    return a[i]['name']

def both(i: int, j: int) -> int:
    x: 'S8' = get(i)
    y: 'S8' = get(j)
    if x == y:
        return 1
    return 0

g: 'S8' = get(0)
h: 'S8' = get(1)
print(pairs(3), g, h, both(0, 1), both(1, 1))
w: 'S8' = b''
for j in zel.range(4):
    w = a[j]['name']
for j in zel.range(3):
    v: 'S8' = a[j]['name']
print(w, v)
'''


@pytest.mark.parametrize("name, source", [("outlived.py", OUTLIVED_ARRAYS), ("full.py", FULL_MEMBERS),
                                          ("inequality.py", TEXT_INEQUALITY), ("own.py", OWN_TEXTS)])
def test_records_and_texts_print_what_cpython_prints(runner, name, source):
    runner.assert_prints_as_cpython(name, source)


def test_lookup_by_a_key_taken_from_a_full_member(runner):
    result = runner.run_script("key.py", '''
import zel
import numpy as np

rec = np.dtype([('name', 'S8'), ('k', 'i4')])
a = np.zeros(3, rec)
for i in range(3):
    a[i]['k'] = 7
a[1]['name'] = b'ABCDEFGH'
a[2]['name'] = b'ABC'
k: 'S8' = a[1]['name']
j: 'S8' = a[2]['name']
print(a(k), a(j), a(a[1]['name']), a(b'ABCDEFGH\\x07'))
''')
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines()[2:] == ["1 2 1 -1"]


def test_text_variable_set_two_ways_in_a_parallel_loop_ends_the_compile(runner):
    result = runner.run_script("mixed.py", '''
import zel
import numpy as np

rec = np.dtype([('name', 'S8'), ('k', 'i4')])
a = np.zeros(4, rec)
w: 'S8' = b''
for j in zel.range(4):
    w = a[j]['name']
    if j == 3:
        w = b'x'
print(w)
''')
    assert result.returncode == 10
    assert result.stdout.splitlines()[-1] == (
        "ZEL.range: `w` is set from a record's text and from another value in a parallel loop, line 8")


# Results of text functions used before they are stored: each is a copy of its own, kept through
# its statement, so a later call leaves it as it was; compared by contents.
TEXT_RESULTS_HEAD = '''
import zel
import numpy as np

rec = np.dtype([('name', 'S8'), ('k', 'i4')])
tbl = np.zeros(4, rec)
tbl[0]['name'] = b'abc'
tbl[1]['name'] = b'xyz'
tbl[2]['name'] = b'abc'
tbl[3]['name'] = b'ABCDEFGH'

def get(i: 'i4') -> 'S8':
    return tbl[i]['name']

def ident(s: 'S8') -> 'S8':
    return s

def pick(c: 'i4', a: 'S8', b: 'S8') -> 'S8':
    return a if c else b

def eq(a: 'S8', b: 'S8') -> 'i4':
    if a == b:
        return 1
    return 0

def far() -> 'S8':
    return b'0123456789abcdef'
'''

TEXT_RESULT_SCRIPTS = {
    "module.py": '''
s: 'S8' = get(0)
print(get(0) == get(1), get(0) == get(2), get(0) != get(1), get(0) != get(2))
print(s == get(2), get(1) == s, get(1) == b'xyz', b'xyz' == get(1))
print(get(0), get(1) + get(2), get(3), len(get(3)), get(0) + get(1) == b'abcxyz')
print([get(i) == get(0) for i in range(4)], (lambda i: get(i) == get(0))(2))
''',
    "typed.py": '''
def same(i: 'i4', j: 'i4') -> 'i4':
    if get(i) == get(j):
        return 1
    return 0

def differ(i: 'i4', j: 'i4') -> 'i4':
    if get(i) != get(j):
        return 1
    return 0

def nested(i: 'i4') -> 'S8':
    if get(i) == get(0):
        return get(3)
    return get(i)

print(same(0, 1), same(0, 2), differ(0, 1), differ(0, 2))
print(eq(get(0), get(1)), eq(get(0), get(2)), eq(get(1), nested(1)), eq(get(3), nested(0)))
print(ident(get(1)), pick(0, get(0), get(1)), pick(1, get(0), get(1)), nested(2))
''',
    "untyped.py": '''
def untyped(i, j):
    x = get(i)
    y = get(j)
    return x == y, get(i) == get(j), get(i) != get(j), bytes(x), bytes(y)

print(untyped(0, 1), untyped(0, 2))
''',
    "stored.py": '''
def chain(i: 'i4') -> 'i4':
    t: 'S8' = ident(get(i))
    u: 'S8' = get(1)
    w: 'S8' = pick(i, get(0), get(1))
    return (t == u) * 100 + eq(t, get(2)) * 10 + eq(w, get(i))

t: 'S8' = get(1) if get(0) == get(2) else get(0)
u: 'S8' = get(0) or get(1)
v: 'S8' = ident(get(3))
w: 'S8' = far()
print(chain(0), chain(1), t, u, v, w, get(2), t == u)
print(far(), ident(far()), far() == ident(far()), eq(far(), ident(far())))
''',
    "parallel.py": '''
hits = np.zeros(4, 'i8')
for j in zel.range(4):
    if get(j) == get(0):
        hits[j] += 1
    if eq(get(j), get(2)):
        hits[j] += 10
    if get(j) != get(1):
        hits[j] += 100
print(hits.tolist())
''',
    # The README's form for a text result in a parallel loop, and the value it leaves after it.
    "in_parallel_loop.py": '''
lengths: ((4,), 'i8') = np.zeros(4, 'i8')
for j in zel.range(4):
    t: 'S8' = get(j)
    lengths[j] = len(t)
print(lengths.tolist(), t)
''',
}


@pytest.mark.parametrize("name", sorted(TEXT_RESULT_SCRIPTS))
def test_text_results_used_together_print_what_cpython_prints(runner, name):
    source = TEXT_RESULTS_HEAD + TEXT_RESULT_SCRIPTS[name]
    runner.assert_prints_as_cpython(name, source)


def test_text_result_stored_in_an_untyped_variable_of_compiled_code_ends_the_compile(runner):
    result = runner.run_script("untyped_store.py", TEXT_RESULTS_HEAD + '''
def both(i: 'i4', j: 'i4') -> 'i4':
    x = get(i)
    return eq(x, get(j))

print(both(0, 1))
''')
    assert result.returncode == 10
    assert result.stdout.splitlines()[-1] == (
        "`x` takes the text that `get(i)` returns but has no text type: annotate it `x: 'S8'`. "
        "line 30")


def test_texts_are_true_when_not_empty_as_bytes_are(runner):
    # A text is a C string; its truth is whether it holds a byte, not whether it is a pointer.
    source = textwrap.dedent('''\
        import zel
        import numpy as np
        rec = np.dtype([('name', 'S8'), ('k', 'i4')])
        tbl = np.zeros(3, rec)
        tbl[1]['name'] = b'xyz'
        s: 'S8' = tbl[0]['name']
        t: 'S8' = tbl[1]['name']
        print(bool(s), bool(t), not s, not t, s or b'empty', 'yes' if t else 'no')
        if s:
            print('s is true')
        while not s:
            s = t
        print(s)

        def named(n: 'i4') -> 'i4':
            c: 'i4' = 0
            for i in range(n):
                u: 'S8' = tbl[i]['name']
                if u and not (not u):
                    c += 1
            return c
        print(named(3))
        seen = np.zeros(3, 'i8')
        for j in zel.range(3):
            w: 'S8' = tbl[j]['name']
            if w:
                seen[j] = 1
        print(seen.tolist())
    ''')
    runner.assert_prints_as_cpython("text_truth.py", source)


# A string subscript of a whole record array is numpy's field access: the column of every row,
# for names of any length (Cython took a one-letter name for its character code, a row index).
FIELD_COLUMNS = '''
import zel
import numpy as np

rec = np.dtype([('v', 'i8'), ('w', 'f8'), ('label', 'S8')])
tbl = np.zeros(200, rec)
for i in range(200):
    tbl[i]['v'] = i
    tbl[i]['w'] = i * 0.5


def total(rows) -> float:
    return float(rows['w'].sum())


if __name__ == "__main__":
    print(tbl['v'])
    print(tbl['v'][:5], tbl['label'][:2], tbl['w'].sum(), total(tbl))
    tbl['w'] = 1.5
    tbl['label'][3] = b'three'
    tbl['v'] += 1
    print(tbl['w'][:3], tbl[3]['label'], tbl['v'][199])
'''


def test_string_subscript_of_a_record_array_is_its_column(runner):
    runner.assert_prints_as_cpython("columns.py", FIELD_COLUMNS)


def test_column_of_a_record_array_in_compiled_code_ends_the_compile(runner):
    result = runner.run_script("column_in_c.py", '''
import zel
import numpy as np

rec = np.dtype([('v', 'i8'), ('w', 'f8')])
tbl = np.zeros(200, rec)
out: ((200,), 'i8') = np.zeros(200, 'i8')
for i in zel.range(200):
    out[i] = tbl['v'][i]
print(out.sum())
''')
    assert result.returncode == 10
    assert result.stdout.splitlines()[-1] == (
        "`tbl['v']` is a column of a record array, a numpy array that compiled code cannot hold; "
        "index a row first, `tbl[i]['v']`. line 9")


def test_lookup_in_a_fully_typed_function(runner):
    # `tbl(k)` is zel's own lookup, which CPython does not run: the rows it finds are given.
    result = runner.run_script("typed_lookup.py", TEXT_RESULTS_HEAD + '''
def index_of(k: 'S8') -> int:
    return tbl(k)

def count_of(k: 'S8') -> 'i4':
    return tbl(k).k + 1

print(index_of(b'xyz'), index_of(b'ABCDEFGH'), index_of(b'none'), count_of(b'abc'))
found: ((3,), 'i8') = np.zeros(3, 'i8')
for j in zel.range(3):
    found[j] = tbl(tbl[j + 1]['name'])
print(found.tolist())
''')
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines()[2:] == ["1 3 -1 1", "[1, 0, 3]"]
