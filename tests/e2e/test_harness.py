"""Tests of the Wine harness itself, with the probe and harness_gtest_selftest programs from tests/wine."""
import os
import struct
import subprocess
import time

import pytest

import harness
from harness import procs


@pytest.mark.parametrize("code, shown", [(0, 0), (3, 3), (-1, 255), (256, 1), (-1073741819, 5)])
def test_exit_code_is_cut_to_8_bits(wine, probe_exe, code, shown):
    r = wine.run(probe_exe, "exit", str(code))
    assert (r.exit_code, r.timed_out) == (shown, False), r
    assert harness.wine_exit_code(code) == shown


def _wait_for(predicate, what, limit=20.0):
    deadline = time.monotonic() + limit
    while not predicate():
        if time.monotonic() > deadline:
            pytest.fail(f"gave up waiting for {what}")
        time.sleep(0.05)


@pytest.mark.parametrize("stop", ["time-out", "kill"])
def test_stopping_a_program_ends_it_and_its_children_only(wine, probe_exe, stop):
    bg = wine.start(probe_exe, "spawn", "60000")
    _wait_for(lambda: len(bg.processes()) == 2, "probe and its child")
    r = bg.wait(timeout=0.5) if stop == "time-out" else bg.kill()
    assert (r.timed_out, r.killed, r.exit_code) == (stop == "time-out", True, None), r
    assert bg.processes() == [] and not bg.alive
    # Only that program went: the session's Windows side is still there and still runs programs.
    services = [p for p in harness.marked_pids(harness.SESSION_MARKER, wine.token)
                if b"services.exe" in open(f"/proc/{p}/cmdline", "rb").read()]
    assert services, "services.exe of the session was killed too"
    assert wine.run(probe_exe, "exit", "0").exit_code == 0


@pytest.mark.parametrize("args", [
    ["plain"],
    ["with blank", "two  blanks"],
    ['say "hi"', '"', 'a"b"c'],
    ["", "empty before"],
    ["trailing\\", "back\\slash", 'c:\\dir with blank\\'],
    ["tab\there", "%PATH%", "^&|<>"],
])
def test_arguments_reach_the_program_unchanged(wine, probe_exe, args):
    r = wine.run(probe_exe, "echo", *args)
    assert r.exit_code == 0, r
    assert r.stdout.split("\n")[:-1] == args


def test_environment_and_current_folder(wine, probe_exe, tmp_path):
    folder = tmp_path / "a folder"
    folder.mkdir()
    r = wine.run(probe_exe, "env", "KORVANE_VALUE", env={"KORVANE_VALUE": "x y=z"})
    assert (r.exit_code, r.stdout) == (0, "x y=z\n"), r
    r = wine.run(probe_exe, "cwd", cwd=folder)
    assert r.stdout.strip().lower() == wine.windows_path(folder).lower(), r
    # Without the display fixture, programs get no DISPLAY.
    assert wine.run(probe_exe, "env", "DISPLAY").exit_code == 1


def test_output_streams_are_kept_apart(wine, probe_exe):
    r = wine.run(probe_exe, "stderr", "to stderr")
    assert (r.stdout, r.stderr) == ("", "to stderr\n"), r


@pytest.mark.parametrize("where", ["blank folder", "drive_c", "root"])
def test_windows_path_agrees_with_winepath(wine, tmp_path, where):
    path = {"blank folder": tmp_path / "x y" / "z.txt",
            "drive_c": wine.prefix / "drive_c" / "windows" / "system32",
            "root": "/"}[where]
    r = wine.run("winepath", "-w", path)
    assert r.exit_code == 0, r
    assert wine.windows_path(path) == r.stdout.strip()


@pytest.mark.parametrize("name, type, value", [
    ("text", "REG_SZ", "with blanks and \"quotes\""),
    ("empty", "REG_SZ", ""),
    (None, "REG_SZ", "default value"),
    ("number", "REG_DWORD", 4000000000),
    ("list", "REG_MULTI_SZ", ["one", "two words"]),
    ("path", "REG_EXPAND_SZ", "%TEMP%\\x"),
])
def test_registry_round_trip(wine, name, type, value):
    key = r"HKCU\Software\KorvaneHarnessTest"
    try:
        harness.reg_add(key, name, type, value)
        assert harness.reg_query(key, name) == value
        assert harness.reg_query(key, "no such value") is None
    finally:
        assert harness.reg_delete(key) is True
    assert harness.reg_query(key, name) is None
    assert harness.reg_delete(key) is False


@pytest.mark.parametrize("program, args, env, problem", [
    ("harness_gtest_selftest", [], None, None),
    ("harness_gtest_selftest", [], {"KORVANE_SELFTEST_FAIL": "1"}, "exit code 1"),
    ("harness_gtest_selftest", ["--gtest_filter=Nothing.*"], None, "no test ran"),
    ("probe", ["exit", "0"], None, 'no "[  PASSED  ]" line'),
])
def test_gtest_runner(wine, program, args, env, problem):
    exe = harness.windows_test_program(program)
    if problem is None:
        r = harness.run_gtest(exe, *args, env=env)
        assert "[  PASSED  ] 2 tests." in r.stdout
        return
    with pytest.raises(pytest.fail.Exception) as failure:
        harness.run_gtest(exe, *args, env=env)
    message = str(failure.value)
    assert problem in message
    if env:  # the failing test's own output is in the message
        assert "KORVANE_SELFTEST_FAIL is set" in message and "[  FAILED  ] HarnessSelfTest.FailsOnRequest" in message


@pytest.mark.parametrize("with_screen", [False, True, False, True])
def test_windows_need_the_display_fixture(wine, probe_exe, request, with_screen):
    if with_screen:
        screen = request.getfixturevalue("display")
        assert subprocess.run(["xdpyinfo", "-display", screen.name], capture_output=True).returncode == 0
    r = wine.run(probe_exe, "window")
    assert (r.stdout == "window ok\n") == with_screen, r
    if not with_screen:
        # Without a screen a message box fails at once (-1, ERROR_INVALID_WINDOW_HANDLE).
        assert wine.run(probe_exe, "msgbox", "hello").stdout == "-1 1400\n"


def test_screenshot_fixture_keeps_a_png_of_the_virtual_desktop(wine, probe_exe, screenshot):
    bg = wine.start(probe_exe, "msgbox", "harness screenshot")
    shot = screenshot("msgbox")
    bg.kill()
    data = shot.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    assert struct.unpack(">II", data[16:24]) == (1024, 768)


def test_display_stop_leaves_no_server_behind():
    screen = harness.Display().start()
    try:
        pid, sock = screen.proc.pid, screen.socket_file
        assert sock.exists() and procs.alive(pid)
    finally:
        screen.stop()
    assert not procs.alive(pid) and not sock.exists()


def test_programs_left_running_are_ended_after_the_test(wine, probe_exe):
    bg = wine.start(probe_exe, "sleep", "60000")
    _wait_for(lambda: bg.processes() != [], "the probe")
    wine.end_test()
    assert bg.processes() == [] and not bg.alive
