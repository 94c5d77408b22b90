"""Embedded archives under Wine: extraction at start (folders, the up-to-date test, the class path),
failures and hostile resources, and the clean-up process after System.exit."""
import os
import shutil
import stat
import struct
import subprocess
import time
from pathlib import Path

import pytest

from double import MAIN, DoubleApp
from fixtures import filetime, make_jar, package
from tools import message_text, tool, wait_window

KEY = b"Kv7Rq2Lm9ZxT4bWe\0"
CLEANUP = "-kvremovetemporaryjarfiles"


def stored_form(main_class: str) -> str:
    """The scrambled hexadecimal form of the main class the launcher keeps, which names its folder."""
    return "".join(f"{b ^ KEY[i % len(KEY)]:02X}" for i, b in enumerate(main_class.encode()))


def temp_folder(wine) -> Path:
    return next(p for p in wine.prefix.glob("drive_c/users/*/Temp") if p.parent.name != "Public")


def class_path(app: DoubleApp) -> str | None:
    return next((o.split("=", 1)[1] for o in app.options() if o.startswith("-Djava.class.path=")), None)


def jars(folder: Path, *names: str, entries: int = 3) -> list[str]:
    """Source jars of distinct sizes and times under folder/src."""
    return [str(make_jar(folder / "src" / name, entries=entries + i, mtime=1600000000.1234567 + 1000 * i))
            for i, name in enumerate(names)]


def entry(name: bytes, data: bytes, time: int = 132000000000000000) -> bytes:
    return name + b"\0" + struct.pack("<QI", time, len(data)) + data


def resource(*entries: bytes, count: int | None = None) -> bytes:
    return struct.pack("<I", len(entries) if count is None else count) + b"".join(entries)


def set_resource(wine, exe: Path, data: bytes) -> None:
    blob = exe.parent / "resource.bin"
    blob.write_bytes(data)
    r = wine.run(tool("set_rcdata"), wine.windows_path(exe), wine.windows_path(blob))
    assert r.exit_code == 0, r


def wait_for_clean_up(launcher):
    """Waits for the programs the ended launcher started (a clean-up process) to end too."""
    result = launcher.wait(60)
    deadline = time.monotonic() + 60
    while launcher.processes() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert not launcher.processes(), "the clean-up process did not end"
    return result


def run_to_the_end(wine, exe: Path, *args, cwd=None):
    return wait_for_clean_up(wine.start(exe, *args, cwd=cwd))


# ----------------------------------------------------------------------------- extraction

def test_first_start_extracts_with_the_entry_time_and_next_start_writes_nothing(wine, tmp_path):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=0)
    source, extracted = tmp_path / "src" / "app.jar", tmp_path / "app.jar"
    assert wine.run(app.exe).exit_code == 0, app.log
    assert extracted.read_bytes() == source.read_bytes()
    assert filetime(extracted) == filetime(source)
    assert class_path(app) == ".\\\\app.jar"
    # Any write or time stamp changes the inode's change time.
    before = extracted.stat().st_ctime_ns
    assert wine.run(app.exe).exit_code == 0, app.log
    assert extracted.stat().st_ctime_ns == before
    assert extracted.read_bytes() == source.read_bytes() and filetime(extracted) == filetime(source)


UP_TO_DATE = [
    # label, same size, time moved by (ns), rewritten
    ("same size and time: kept as it is", True, 0, False),
    ("same size, other time", True, -10**9, True),
    ("other size, same time", False, 0, True),
]


@pytest.mark.parametrize("label,same_size,shift,rewritten", UP_TO_DATE, ids=[row[0] for row in UP_TO_DATE])
def test_up_to_date_test_is_size_and_last_write_time(wine, tmp_path, label, same_size, shift, rewritten):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=0)
    source, extracted = tmp_path / "src" / "app.jar", tmp_path / "app.jar"
    assert wine.run(app.exe).exit_code == 0, app.log
    written = extracted.stat().st_mtime_ns + shift
    extracted.write_bytes(b"X" * (extracted.stat().st_size if same_size else 5))
    os.utime(extracted, ns=(written, written))
    changed = extracted.read_bytes()
    assert wine.run(app.exe).exit_code == 0, app.log
    assert extracted.read_bytes() == (source.read_bytes() if rewritten else changed)
    assert filetime(extracted) == filetime(source)


CLASS_PATHS = [
    ("configured entry", "lib\\x.jar", ["app.jar"], "lib\\x.jar;.\\\\app.jar"),
    ("configured ending in a separator", "lib;", ["app.jar"], "lib;.\\\\app.jar"),
    ("two archives in resource order", "", ["b.jar", "a.jar"], ".\\\\b.jar;.\\\\a.jar"),
]


@pytest.mark.parametrize("label,configured,names,expected", CLASS_PATHS, ids=[row[0] for row in CLASS_PATHS])
def test_archives_are_joined_to_the_class_path(wine, tmp_path, label, configured, names, expected):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, *names), extractionMode=0, classPath=configured)
    assert wine.run(app.exe).exit_code == 0, app.log
    assert class_path(app) == expected


@pytest.mark.parametrize("mode", [1, 2])
def test_modes_1_and_2_extract_into_a_folder_named_by_the_stored_main_class(wine, tmp_path, mode):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=mode)
    folder = (tmp_path if mode == 1 else temp_folder(wine)) / stored_form(MAIN)
    shutil.rmtree(folder, ignore_errors=True)
    assert wine.run(app.exe).exit_code == 0, app.log
    assert (folder / "app.jar").read_bytes() == (tmp_path / "src" / "app.jar").read_bytes()
    prefix = ".\\" if mode == 1 else wine.windows_path(temp_folder(wine)) + "\\"
    assert class_path(app) == prefix + stored_form(MAIN) + "\\\\app.jar"
    shutil.rmtree(folder)


def test_empty_resource_writes_nothing_and_keeps_the_class_path(wine, tmp_path):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=0, classPath="lib\\x.jar")
    set_resource(wine, app.exe, resource())
    before = sorted(p.name for p in tmp_path.iterdir())
    assert wine.run(app.exe).exit_code == 0, app.log
    assert class_path(app) == "lib\\x.jar"
    assert sorted(p.name for p in tmp_path.iterdir() if p.name != app.log_path.name) == before


def test_read_only_file_of_another_size_is_left_alone_and_stays_on_the_class_path(wine, tmp_path):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=0)
    extracted = tmp_path / "app.jar"
    extracted.write_bytes(b"older jar")
    extracted.chmod(stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)  # Wine's read-only attribute
    # Running as root, Wine would open it for writing all the same: make it immutable as well.
    immutable = os.geteuid() == 0
    if immutable:
        subprocess.run(["chattr", "+i", str(extracted)], check=True)
    try:
        assert wine.run(app.exe).exit_code == 0, app.log
        assert extracted.read_bytes() == b"older jar"
        assert class_path(app) == ".\\\\app.jar"
    finally:
        if immutable:
            subprocess.run(["chattr", "-i", str(extracted)], check=True)


@pytest.mark.parametrize("first,extracted", [("-install", False), ("-uninstall", False), ("-Install", True)])
def test_install_switches_skip_the_extraction(wine, tmp_path, first, extracted):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=0)
    assert wine.run(app.exe, first).exit_code == 0, app.log
    assert (tmp_path / "app.jar").exists() == extracted
    assert class_path(app) == (".\\\\app.jar" if extracted else None)


def test_ten_launchers_at_once_all_run_with_identical_archives(wine, tmp_path):
    names = ["a.jar", "b.jar", "c.jar"]
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, *names, entries=150), extractionMode=1,
                    allowMultipleInstances=True)
    folder = tmp_path / stored_form(MAIN)
    launchers = [wine.start(app.exe) for _ in range(10)]
    assert [launcher.wait(120).exit_code for launcher in launchers] == [0] * 10, app.log
    for name in names:
        assert (folder / name).read_bytes() == (tmp_path / "src" / name).read_bytes(), name
    # Every launcher had all three archives on its class path: none met a failure.
    expected = ";".join(f".\\{stored_form(MAIN)}\\\\{name}" for name in names)
    assert app.options().count("-Djava.class.path=" + expected) == 10, app.log
    assert len(app.lines("main returned")) == 10


# ----------------------------------------------------------------------------- failures

WRITE_FAILED = "Error writing to file/directory: "


def _blocked_folder(tmp_path):
    # A file where the folder belongs: the folder cannot be made, so nothing exists under the path.
    (tmp_path / stored_form(MAIN)).write_bytes(b"not a folder")
    return None, f".\\{stored_form(MAIN)}\\\\app.jar"


def _traversal(tmp_path):
    return resource(entry(b"\\good.jar", b"good"), entry(b"\\..\\victim.jar", b"evil"),
                    entry(b"\\late.jar", b"late")), f".\\{stored_form(MAIN)}"


def _second_root(tmp_path):
    return resource(entry(b"\\good.jar", b"good"), entry(b"\\\\victim.jar", b"evil")), f".\\{stored_form(MAIN)}"


def _drive(tmp_path):
    return resource(entry(b"\\good.jar", b"good"), entry(b"\\C:victim.jar", b"evil")), f".\\{stored_form(MAIN)}"


def _past_the_end(tmp_path):
    cut = entry(b"\\victim.jar", b"x" * 1000)[:-10]
    return resource(entry(b"\\good.jar", b"good"), cut), f".\\{stored_form(MAIN)}"


def _count_too_high(tmp_path):
    return resource(entry(b"\\good.jar", b"good"), count=3), f".\\{stored_form(MAIN)}"


FAILURES = [
    # label, setup -> (raw resource or None, argument of the message)
    ("folder blocked by a file", _blocked_folder),
    ("traversal name", _traversal),
    ("second root", _second_root),
    ("drive in the name", _drive),
    ("entry past the end", _past_the_end),
    ("count promises more entries", _count_too_high),
]


@pytest.mark.parametrize("label,setup", FAILURES, ids=[row[0] for row in FAILURES])
def test_failed_extraction_is_reported_and_nothing_outside_the_folder_is_touched(wine, display, tmp_path, label,
                                                                                  setup):
    (tmp_path / "app").mkdir()
    app = DoubleApp(wine, tmp_path / "app", ["exit 4"], archives=jars(tmp_path, "app.jar", "b.jar"),
                    extractionMode=1, classPath="lib\\x.jar", removeTemporaryArchives=True)
    raw, argument = setup(app.folder)
    if raw is not None:
        set_resource(wine, app.exe, raw)
    victims = [tmp_path / "victim.jar", app.folder / "victim.jar"]
    for victim in victims:
        victim.write_bytes(b"keep me")
    launcher = wine.start(app.exe)
    window = wait_window(wine, app.exe.name, close="ok")
    assert window is not None, "no message"
    assert message_text(window).startswith(f"{WRITE_FAILED}{argument}\n\nReason: ")
    # The archives were extracted in part, so System.exit starts the clean-up.
    assert wait_for_clean_up(launcher).exit_code == 4, app.log
    assert class_path(app) == "lib\\x.jar"
    assert [v.read_bytes() for v in victims] == [b"keep me"] * 2
    assert not (app.folder / stored_form(MAIN)).is_dir()
    assert not (app.folder / "late.jar").exists()


def test_failed_extraction_keeps_the_files_written_before(wine, display, tmp_path):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=1)
    set_resource(wine, app.exe, resource(entry(b"\\good.jar", b"good", 132000000000000000),
                                         entry(b"\\..\\victim.jar", b"evil"), entry(b"\\late.jar", b"late")))
    launcher = wine.start(app.exe)
    assert wait_window(wine, app.exe.name, close="ok") is not None
    assert launcher.wait(60).exit_code == 0
    folder = tmp_path / stored_form(MAIN)
    assert sorted(p.name for p in folder.iterdir()) == ["good.jar"]
    assert filetime(folder / "good.jar") == 132000000000000000
    assert not (tmp_path / "victim.jar").exists()


# ----------------------------------------------------------------------------- clean-up

@pytest.mark.parametrize("foreign", [False, True], ids=["only archives", "with a foreign file"])
def test_system_exit_starts_the_clean_up_of_the_temporary_folder(wine, tmp_path, foreign):
    app = DoubleApp(wine, tmp_path, ["exit 3"], archives=jars(tmp_path, "app.jar", "b.jar"), extractionMode=2,
                    removeTemporaryArchives=True)
    folder = temp_folder(wine) / stored_form(MAIN)
    shutil.rmtree(folder, ignore_errors=True)
    if foreign:
        folder.mkdir()
        (folder / "notes.txt").write_text("mine")
    assert run_to_the_end(wine, app.exe).exit_code == 3, app.log
    assert "exit-hook 3" in app.log
    if foreign:
        assert sorted(p.name for p in folder.iterdir()) == ["notes.txt"]
        shutil.rmtree(folder)
    else:
        assert not folder.exists()


def test_normal_end_starts_no_clean_up_and_the_files_stay_up_to_date(wine, tmp_path):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=1,
                    removeTemporaryArchives=True)
    extracted = tmp_path / stored_form(MAIN) / "app.jar"
    assert run_to_the_end(wine, app.exe).exit_code == 0
    before = extracted.stat().st_ctime_ns
    assert run_to_the_end(wine, app.exe).exit_code == 0
    assert extracted.stat().st_ctime_ns == before


def test_clean_up_by_hand_for_an_ended_process_deletes_at_once(wine, tmp_path):
    app = DoubleApp(wine, tmp_path, [], archives=jars(tmp_path, "app.jar"), extractionMode=1)
    folder = tmp_path / stored_form(MAIN)
    assert wine.run(app.exe).exit_code == 0
    assert (folder / "app.jar").exists()
    # A clean-up that waited its full 30 seconds would be killed here, and fail.
    result = wine.run(app.exe, CLEANUP, "4000000", cwd=tmp_path.parent, timeout=20)
    assert result.exit_code == 0 and not result.timed_out
    assert not folder.exists()


def test_mode_0_clean_up_deletes_beside_the_launcher_only(wine, tmp_path):
    other = tmp_path / "work"
    other.mkdir()
    (other / "app.jar").write_bytes(b"not the archive")
    app = DoubleApp(wine, tmp_path, ["exit 0"], archives=jars(tmp_path, "app.jar"), extractionMode=0,
                    removeTemporaryArchives=True, useStartDirectory=False,
                    workingDirectory=wine.windows_path(other))
    assert run_to_the_end(wine, app.exe, cwd=other).exit_code == 0, app.log
    assert "exit-hook 0" in app.log
    assert not (tmp_path / "app.jar").exists()
    assert (other / "app.jar").read_bytes() == b"not the archive"
    assert app.exe.exists()
