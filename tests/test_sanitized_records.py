"""A record script's generated C++ built with AddressSanitizer: pointers into arrays, text
members and their comparisons touch no freed memory and read no byte past a member."""
import pytest

from asan_build import asan_runtime, build_with_asan, run_with_asan

# The text member is the last field and a full one ends its array, so a read past the member
# leaves the buffer; the arrays are large enough that numpy allocates and frees them itself.
RECORDS = '''
import zel
import numpy as np

rec = np.dtype([('v', 'i8'), ('name', 'S8')])
key = np.dtype([('name', 'S8')])
n = 200
a = np.zeros(n, rec)
b = np.zeros(n, rec)
keys = np.zeros(n, key)
a[n - 1]['name'] = b'ABCDEFGH'
b[n - 1]['name'] = b'ABCDEFGH'
keys[n - 1]['name'] = b'ABCDEFGH'

old = np.zeros(1000, rec)
old[999]['name'] = b'ABCDEFGH'
top: rec = old[999]
s: 'S8' = old[999]['name']
old = np.zeros(3, rec)
top['v'] = 12345
print(top['v'], top['name'], s, len(s))

def same(i: int) -> int:
    if a[i]['name'] == b[i]['name']:
        return 1
    return 0

def differ(i: int) -> int:
    if a[i].name != b[i].name:
        return 1
    return 0

def get(i: int) -> 'S8':
    return a[i]['name']

def both(i: int, j: int) -> int:
    if get(i) == get(j):
        return 1
    return 0

k: 'S8' = keys[n - 1]['name']
print(same(n - 1), differ(n - 1), get(n - 1), keys(k))
print(both(n - 1, 0), both(n - 1, n - 1), get(n - 1) != get(0), get(0) + get(n - 1))
flags: ((200,), 'i8') = np.zeros(200, 'i8')
for i in zel.range(200):
    if a[i]['name'] != b[i]['name']:
        flags[i] = 1
    if a[i]['name'] == b[i]['name']:
        flags[i] += 2
print(flags.sum())
for i in zel.range(200):
    last: 'S8' = a[i]['name']
print(last)
'''


def test_record_script_runs_clean_under_address_sanitizer(starts_processes, zel_ns, tmp_path,
                                                          monkeypatch):
    runtime = asan_runtime()
    if runtime is None:
        pytest.skip("g++ has no AddressSanitizer runtime here")
    monkeypatch.chdir(tmp_path)
    build_with_asan(zel_ns, RECORDS, tmp_path, "records_asan")
    result = run_with_asan(runtime, tmp_path, "records_asan")
    assert "AddressSanitizer" not in result.stderr, result.stderr
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "12345 b'ABCDEFGH' b'ABCDEFGH' 8",
        "1 0 b'ABCDEFGH' 199",
        "0 1 True b'ABCDEFGH'",
        "400",
        "b'ABCDEFGH'",
    ]


# Text variables assigned Python values whose bytes nothing else keeps: the value the variable
# was given is dropped, or replaced in its list, or the temporary that held it ends, before the
# variable is read.
TEXT_VARIABLES = '''
import zel

rows = [('alpha', 3.0), ('bravo', 9.0), ('charlie', 4.0), ('delta', 1.0)] * 50
best: 'S8' = b''
top = -1.0
for name, score in rows:
    key = name.encode()
    if score > top:
        top = score
        best = key
print('best', best, top)

data = ('abc' * 3).encode()
s: 'S8' = data
data = None
names = [('n%d' % i).encode() for i in range(4)]
t: 'S8' = names[2]
names[2] = b'other'
u: 'S8' = b''
u, count = ('pair' * 2).encode(), 5
for w in [('loop%d' % i).encode() for i in range(3)]:
    pass
v: 'S8' = t
t = ('q' * 4).encode()

def first(values: list) -> bytes:
    got: 'S8' = values[0]
    values[0] = None
    return got

def take(value: str) -> None:
    global best
    best = value.encode()

take('kept' * 2)
junk = [b'%d' % i * 40 for i in range(100)]
print(s, t, u, count, w, v, best, first([('x' * 5).encode()]))
'''


def test_text_variables_run_clean_under_address_sanitizer(starts_processes, zel_ns, tmp_path,
                                                          monkeypatch):
    runtime = asan_runtime()
    if runtime is None:
        pytest.skip("g++ has no AddressSanitizer runtime here")
    monkeypatch.chdir(tmp_path)
    build_with_asan(zel_ns, TEXT_VARIABLES, tmp_path, "texts_asan")
    result = run_with_asan(runtime, tmp_path, "texts_asan")
    assert "AddressSanitizer" not in result.stderr, result.stderr
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "best b'bravo' 9.0",
        "b'abcabcabc' b'qqqq' b'pairpair' 5 b'loop2' b'n2' b'keptkept' b'xxxxx'",
    ]
