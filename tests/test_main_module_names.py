"""The script's module as the interpreter names it: classes and functions belong to `__main__`,
so they print and pickle as under CPython."""

PICKLES = """\
import zel
import pickle


class Point:
    def __init__(self, x, y):
        self.x, self.y = x, y

    def __eq__(self, other):
        return (self.x, self.y) == (other.x, other.y)

    def __repr__(self):
        return f"Point({self.x}, {self.y})"


class Shape:
    def area(self) -> float:
        return 0.0


def scale(p: Point, k: float) -> Point:
    return Point(p.x * k, p.y * k)


if __name__ == "__main__":
    p = scale(Point(1.0, 2.0), 3.0)
    print(type(p), type(Shape()), Point.__module__, scale.__module__, Shape.area.__module__)
    print((lambda v: v).__module__, repr(p))
    data = pickle.dumps(p)
    print(b"__main__" in data, pickle.loads(data) == p)
    print(pickle.loads(pickle.dumps(scale)) is scale)
"""


def test_classes_and_functions_belong_to_main(runner):
    result = runner.run_script("pk.py", PICKLES)
    assert (result.stdout, result.stderr, result.returncode) == (
        "# COMPILE..\n# RUN\n" + runner.interpreted(PICKLES), "", 0)
