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
        ("s: 'S8' = b'abc'\nc = s[0]", "구조체 첨자는 문자열이어야 합니다. s[0] line 5"),
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
    plain = runner.run_script("plain_widths.py", source.replace("import zel\n", ""))
    built = runner.run_script("widths.py", source)
    assert plain.returncode == 0, plain.stderr
    assert (built.returncode, built.stdout) == (0, "# COMPILE..\n# RUN\n" + plain.stdout)


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
    plain = runner.run_script("plain_chained.py", source.replace("import zel\n", ""))
    built = runner.run_script("chained.py", source)
    assert plain.returncode == 0, plain.stderr
    assert (built.returncode, built.stdout) == (0, "# COMPILE..\n# RUN\n" + plain.stdout)
