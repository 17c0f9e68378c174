"""Built-module naming and the rebuild decision of ZEL.prepare_path."""
import hashlib
import os
import pathlib
import sys
import sysconfig
import types

import pytest

VS = f"{sys.version_info.major}{sys.version_info.minor}"


@pytest.fixture
def zel(zel_ns, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return zel_ns.ZEL


def script(path, mtime=1_000_000):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("import zel\n")
    os.utime(path, (mtime, mtime))
    return str(path)


def build(name, mtime, made_from=None, zel=None):
    """An empty build file; with a script and ZEL, the record that it was made from that script."""
    with open(name, "w"):
        pass
    os.utime(name, (mtime, mtime))
    if made_from:
        with open(name + ".zel", "w", encoding="utf-8") as record:
            record.write(zel.build_record(pathlib.Path(made_from).read_bytes(), name))
    return name


@pytest.mark.parametrize("offsets, rebuild", [
    ([], True),
    ([10], False),
    ([0], True),            # the same time counts as stale
    ([-10], True),
    ([10, -10], True),      # one stale build is enough, and then every build goes
    ([10, 20], False),
], ids=["none", "newer", "equal", "older", "newer-and-older", "all-newer"])
def test_rebuild_decision(zel, tmp_path, offsets, rebuild):
    path = script(tmp_path / "demo.py")
    builds = {build(f"demo.cpython-{VS}-{i}.so", 1_000_000 + dt, path, zel)
              for i, dt in enumerate(offsets)}
    assert zel.prepare_path(path) == ("demo.py", "demo", rebuild)
    assert set(zel.fl) == builds and isinstance(zel.fl, list)
    assert zel.vs == VS
    left = {b for b in builds if os.path.exists(b)}
    assert left == (set() if rebuild else builds)
    records = {b for b in builds if os.path.exists(b + ".zel")}
    assert records == left  # a deleted build takes its record along


@pytest.mark.parametrize("made_from", [
    None,                   # no record
    "other/demo.py",        # another script of the same name
    "old/demo.py",          # this script's earlier text
])
def test_newer_build_made_from_other_text_is_rebuilt(zel, tmp_path, made_from):
    path = script(tmp_path / "demo.py")
    if made_from:
        other = tmp_path / made_from
        other.parent.mkdir()
        other.write_text("import zel\nprint('other')\n")
    newer = build(f"demo.cpython-{VS}-x.so", 2_000_000, made_from and tmp_path / made_from, zel)
    assert zel.prepare_path(path) == ("demo.py", "demo", True)
    assert not os.path.exists(newer) and not os.path.exists(newer + ".zel")


def test_build_of_another_zel_version_is_rebuilt(zel, tmp_path, monkeypatch):
    path = script(tmp_path / "demo.py")
    monkeypatch.setattr(zel, "__version__", "0.6.9")
    newer = build(f"demo.cpython-{VS}-x.so", 2_000_000, path, zel)
    monkeypatch.undo()
    assert zel.prepare_path(path) == ("demo.py", "demo", True)
    assert not os.path.exists(newer)


def test_build_record_names_version_text_cpu_and_build(zel, zel_ns, tmp_path):
    built = tmp_path / "demo.so"
    built.write_bytes(b"built")
    record = zel.build_record(b"import zel\n", str(built))
    zel_build = hashlib.sha256(pathlib.Path(zel_ns.__file__).read_bytes()).hexdigest()
    assert record.startswith(f"zel {zel.__version__} module sha256 {zel_build} sha256 "
                             + hashlib.sha256(b"import zel\n").hexdigest() + " cpu ")
    assert " cpu " in record and record.endswith(" build 5 sha256 "
                                                 + hashlib.sha256(b"built").hexdigest() + "\n")
    assert record == zel.build_record(b"import zel\n", str(built))
    assert record != zel.build_record(b"import zel\n\n", str(built))
    built.write_bytes(b"builT")
    assert record != zel.build_record(b"import zel\n", str(built))


@pytest.mark.parametrize("part, replaced", [
    ("module", "module sha256 " + hashlib.sha256(b"another zel").hexdigest()),  # another zel build
    ("cpu", "cpu GenuineIntel:806c1:7ffafbff:bfebfbff:e7"),  # another processor
    ("build", "build 5 sha256 " + hashlib.sha256(b"built").hexdigest()),  # another file
], ids=["other-zel-build", "other-cpu", "other-file"])
def test_build_whose_record_names_another_zel_build_cpu_or_file_is_rebuilt(zel, tmp_path, part,
                                                                  replaced):
    path = script(tmp_path / "demo.py")
    newer = build(f"demo.cpython-{VS}-x.so", 2_000_000, path, zel)
    record = pathlib.Path(newer + ".zel")
    fields = record.read_text(encoding="utf-8").split(" ")
    at = fields.index(part)
    fields[at:at + len(replaced.split(" "))] = replaced.split(" ")
    record.write_text(" ".join(fields).rstrip("\n") + "\n", encoding="utf-8")
    assert zel.prepare_path(path) == ("demo.py", "demo", True)
    assert not os.path.exists(newer)


def test_windows_pattern(zel, zel_ns, tmp_path, monkeypatch):
    monkeypatch.setattr(zel_ns.Etc, "platform", staticmethod(lambda: "Windows"))
    path = script(tmp_path / "demo.py")
    pyd = build(f"demo.cp{VS}-win_amd64.pyd", 2_000_000, path, zel)
    build(f"demo.cpython-{VS}-x86_64-linux-gnu.so", 2_000_000)
    assert zel.prepare_path(path) == ("demo.py", "demo", False)
    assert zel.fl == [pyd]


def test_only_the_current_directory_is_searched(zel, tmp_path):
    path = script(tmp_path / "elsewhere" / "demo.py")
    beside = build(str(tmp_path / "elsewhere" / f"demo.cpython-{VS}-x.so"), 0)
    assert zel.prepare_path(path) == ("demo.py", "demo", True)
    assert zel.fl == [] and os.path.exists(beside)


@pytest.mark.parametrize("name, stem", [
    (".hidden", ".hidden"), ("a.b.py", "a.b"), ("plain", "plain"), ("run.PY", "run"),
])
def test_names(zel, tmp_path, name, stem):
    path = script(tmp_path / "sub" / name)
    assert zel.prepare_path(path) == (name, stem, True)


@pytest.mark.parametrize("name", ["a*.py", "a?.py", "[ab].py", "*.py"])
def test_wildcards_in_the_name_match_only_themselves(zel, tmp_path, name):
    stem = name[:-3]
    path = script(tmp_path / name)
    own = build(f"{stem}.cpython-{VS}-x.so", 0)
    others = [build(f"{other}.cpython-{VS}-x.so", 0) for other in ("ab", "a", "b", "zz")]
    assert zel.prepare_path(path) == (name, stem, True)
    assert zel.fl == [own]
    assert not os.path.exists(own)
    assert all(os.path.exists(other) for other in others)


def test_missing_script(zel, tmp_path):
    with pytest.raises(SystemError, match=r"^fatal\.0145: `gone\.py`$"):
        zel.prepare_path(str(tmp_path / "gone.py"))
    assert zel.vs == VS and not hasattr(zel, "fl")


@pytest.mark.parametrize("major, minor, vs", [(3, 10, "310"), (2, 7, "27")])
def test_version_gate(zel, zel_ns, tmp_path, monkeypatch, capsys, major, minor, vs):
    path = script(tmp_path / "demo.py")
    monkeypatch.setattr(zel_ns.sys, "version_info", types.SimpleNamespace(major=major, minor=minor))
    with pytest.raises(SystemExit) as info:
        zel.prepare_path(path)
    monkeypatch.undo()
    assert info.value.code == 1054
    assert capsys.readouterr().out == (
        f"Python version must be same or higher than v3.11\nYour python version is {major}\n")
    assert zel.vs == vs


@pytest.mark.parametrize("major, minor, vs", [(4, 0, "40"), (3, 11, "311"), (3, 14, "314")])
def test_version_gate_passes(zel, zel_ns, tmp_path, monkeypatch, capsys, major, minor, vs):
    path = script(tmp_path / "demo.py")
    monkeypatch.setattr(zel_ns.sys, "version_info", types.SimpleNamespace(major=major, minor=minor))
    result = zel.prepare_path(path)
    monkeypatch.undo()
    assert result == ("demo.py", "demo", True) and zel.vs == vs
    assert capsys.readouterr().out == ""


def test_the_checked_build_is_the_one_loaded(zel, tmp_path):
    # Another process may put a build of the same name in place right after the check: what
    # is loaded is a link of this process's own to the file its record named.
    path = script(tmp_path / "demo.py")
    name = "demo" + sysconfig.get_config_var("EXT_SUFFIX")
    pathlib.Path(name).write_bytes(b"checked")
    later = os.path.getmtime(path) + 10
    os.utime(name, (later, later))
    pathlib.Path(name + ".zel").write_text(zel.build_record(pathlib.Path(path).read_bytes(), name),
                                           encoding="utf-8")
    assert zel.prepare_path(path) == ("demo.py", "demo", False)
    replacement = pathlib.Path("replacement")
    replacement.write_bytes(b"another script's build")
    os.replace(replacement, name)
    assert pathlib.Path(zel.build_file).read_bytes() == b"checked"


def test_a_stale_build_leaves_no_link_to_load(zel, tmp_path):
    path = script(tmp_path / "demo.py")
    name = "demo" + sysconfig.get_config_var("EXT_SUFFIX")
    build(name, 2_000_000, tmp_path / "demo.py", zel)
    pathlib.Path(name).write_bytes(b"cut")  # the record names the file as it was
    assert zel.prepare_path(path) == ("demo.py", "demo", True)
    assert os.listdir(tmp_path) == ["demo.py"]
    assert not hasattr(zel, "build_file")
