"""Etc: the platform name, the daily log file and the count of its lines."""
import datetime
import pathlib
import platform
import re
import types

import pytest


@pytest.fixture
def etc(zel_ns, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return zel_ns.Etc


def log_path(tmp_path):
    return tmp_path / f"zel_{datetime.datetime.now():%Y-%m-%d}.log"


def test_no_log_yet(etc):
    assert etc.log_file == ""
    assert etc.log_lines() == -1


def test_log_appends_lines(etc, tmp_path):
    etc.log("a", 1, None)
    etc.log("second")
    assert etc.log_file == log_path(tmp_path).resolve()
    assert isinstance(etc.log_file, pathlib.Path)
    assert log_path(tmp_path).read_text(encoding="utf-8") == "a 1 None\nsecond\n"
    assert etc.log_lines() == 2


def test_log_with_date(etc, tmp_path):
    etc.log("a", 1, None, put_date=True)
    text = log_path(tmp_path).read_text(encoding="utf-8")
    assert re.fullmatch(r"\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] a 1 None\n", text)


def test_put_date_is_keyword_only(etc, tmp_path):
    etc.log("x", True)
    assert log_path(tmp_path).read_text(encoding="utf-8") == "x True\n"


def test_log_writes_utf8(etc, tmp_path):
    etc.log("잘못된 사용")
    assert log_path(tmp_path).read_bytes() == "잘못된 사용\n".encode()


@pytest.mark.parametrize("content, count", [
    (b"\xff\xfe\n\x80\nlast", 3),
    (b"ok\n\xc3\x28\n", 2),
    (b"", 0),
    (b"one line without end", 1),
])
def test_count_lines(etc, tmp_path, content, count):
    path = tmp_path / "other.log"
    path.write_bytes(content)
    etc.log_file = path
    assert etc.log_lines() == count


def test_count_lines_other_errors_propagate(etc, tmp_path):
    etc.log_file = tmp_path
    with pytest.raises(OSError) as info:
        etc.log_lines()
    assert not isinstance(info.value, FileNotFoundError)


def test_log2_without_frame_writes_nothing(etc, tmp_path):
    etc.log2(None, "x")
    etc.log2(0, "x", put_date=True)
    assert etc.log_file == "" and not log_path(tmp_path).exists()


def test_log2_names_the_module_file_and_line(etc, zel_ns, tmp_path):
    etc.log2(types.SimpleNamespace(f_lineno=42), "msg", 2)
    line = log_path(tmp_path).read_text(encoding="utf-8")
    assert line == f"{zel_ns.__file__}(42) msg 2\n"


def test_platform_and_enc(etc):
    assert etc.platform() == platform.system()
    value = object()
    assert etc.enc(value) is value


@pytest.fixture
def opened_files(monkeypatch):
    """Every file that builtins.open hands out from now on."""
    files = []
    real_open = open

    def recording_open(*args, **kwargs):
        files.append(real_open(*args, **kwargs))
        return files[-1]

    monkeypatch.setattr("builtins.open", recording_open)
    return files


def test_log_closes_the_file_when_the_write_fails(etc, opened_files):
    with pytest.raises(UnicodeEncodeError):
        etc.log("\ud800")  # a lone surrogate has no UTF-8 form
    assert opened_files and all(f.closed for f in opened_files)


@pytest.mark.parametrize("content, count", [(b"one\ntwo\n", 2), (b"\xff\n", 1)])
def test_count_lines_closes_the_file(etc, tmp_path, opened_files, content, count):
    path = tmp_path / "other.log"
    path.write_bytes(content)
    etc.log_file = path
    assert etc.log_lines() == count
    assert opened_files and all(f.closed for f in opened_files)
