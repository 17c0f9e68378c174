"""Text variables (`s: 'S8'`) assigned Python values, run as scripts: each owns the bytes it
points into, however the value it was given is dropped, and reads as the bytes Python holds."""

# Every value is made at run time, so nothing but the variable keeps its bytes.
FROM_PYTHON_VALUES = '''
import zel


def pick(names: list) -> bytes:
    """A function's text variable outlives the list entry it was set from."""
    s: 'S8' = names[2]
    names[2] = ('other' * 2).encode()
    return s


best: 'S8' = b''


def rename(value: str) -> None:
    global best
    best = value.encode()


if __name__ == "__main__":
    rows = [('alpha', 3.0), ('bravo', 9.0), ('charlie', 4.0), ('delta', 1.0)] * 50
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
    w: 'S8' = b''
    for w in [('loop%d' % i).encode() for i in range(3)]:
        pass
    v: 'S8' = t
    t = ('q' * 4).encode()
    rename('kept' * 2)
    junk = [b'%d' % i * 40 for i in range(100)]
    print(s, t, u, count, w, v, best, pick([b'a', b'b', ('cc' * 2).encode()]))
'''


def test_text_variables_own_the_python_values_they_take(runner):
    runner.assert_prints_as_cpython("owned.py", FROM_PYTHON_VALUES)


# A text variable reads as the bytes it holds: subscripts and slices outside compiled code, and
# its length everywhere, also where no record holds a text.
AS_BYTES = '''
import zel
import numpy as np


def width(s: 'S8') -> int:
    return len(s)


def shout(s: 'S8') -> 'S8':
    return s


class Tag:
    def __init__(self, text: bytes) -> None:
        self.text = text


if __name__ == "__main__":
    s: 'S8' = b'abcdefgh'
    t: 'S8' = Tag(b'\\xffxyz').text
    print(s[:4], s[2], s[-2:], s[::2], t[0], t[1:], len(s), len(t))
    print(width(s), width(b''), shout(b'hey'), len(shout(s)))
    sizes: ((4,), 'i8') = np.zeros(4, 'i8')
    for i in zel.range(4):
        sizes[i] = len(s) + i
    print(sizes[0], sizes[3])
'''


def test_text_variables_read_as_bytes(runner):
    runner.assert_prints_as_cpython("as_bytes.py", AS_BYTES)
