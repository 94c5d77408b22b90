"""The splash window under Wine: where it shows, when it closes, who is in front afterwards, and a
launch that goes on when there is no splash to show. Times come from ui_helper's window timeline
(ms from the timeline's start); the bounds are wide on purpose, since the machines are shared."""
import subprocess

import pytest

import harness
from double import DoubleApp
from fixtures import make_bmp, write_config
from tools import Timeline, wait_window

TITLE = "Loading application..."
APP_WINDOW = "Main Window"


def splash_wintest():
    return harness.paths.build_win64() / "ui" / "splash_wintest.exe"


@pytest.mark.parametrize("case", [
    "SplashStart.WindowIsPublishedAndStaysHiddenWithoutBitmap",
    "SplashStart.StartUpGoesOnWhenTheWindowCannotBeCreated",
    "WindowWatch.CountsVisibleWindowsAndNeverTakesSplashOrDialogAsApplication",
])
def test_splash_thread_and_window_watch(wine, display, case):
    harness.run_gtest(splash_wintest(), f"--gtest_filter={case}")


def splash_app(wine, tmp_path, scenario, bitmap=(301, 201), **settings):
    if bitmap:
        make_bmp(tmp_path / "splash.bmp", *bitmap)
        settings["splashBitmap"] = "splash.bmp"
    return DoubleApp(wine, tmp_path, scenario, **settings)


def sightings(timeline: dict, caption: str) -> list[dict]:
    return [w for w in timeline["windows"] if w["caption"] == caption]


def one(timeline: dict, caption: str) -> dict:
    found = sightings(timeline, caption)
    assert len(found) == 1, timeline
    return found[0]


def foreground_at(timeline: dict, t: int) -> int:
    """The foreground window's handle as last seen before the time t."""
    return [f for f in timeline["foreground"] if f["t"] < t][-1]["hwnd"]


def test_splash_stays_centred_until_the_first_window_then_gives_it_the_foreground(wine, display, screenshot,
                                                                                   tmp_path):
    # splashSeconds plays no part while the window watch runs: the window comes only after 6 s.
    app = splash_app(wine, tmp_path, ["sleep 6000", f"window 3000 {APP_WINDOW}"], splashUntilWindow=True,
                     splashSeconds=5)
    timeline = Timeline(wine, "app.exe", 11000)
    launcher = wine.start(app.exe)
    assert wait_window(wine, "app.exe", caption=TITLE, timeout_ms=15000)
    screenshot("splash")
    seen = timeline.result()
    assert launcher.wait(30).exit_code == 0, app.log

    splash, window = one(seen, TITLE), one(seen, APP_WINDOW)
    assert splash["class"].lower() == "static"
    left, top, right, bottom = splash["rect"]
    screen_width, screen_height = seen["screen"]
    assert (right - left, bottom - top) == (301, 201)
    assert (left, top) == ((screen_width - 301) // 2, (screen_height - 201) // 2)
    assert window["shown"] - splash["shown"] > 5000
    assert window["shown"] <= splash["hidden"] <= window["shown"] + 1500
    assert splash["hwnd"] in [f["hwnd"] for f in seen["foreground"] if splash["shown"] <= f["t"] < splash["hidden"]]
    assert foreground_at(seen, window["hidden"]) == window["hwnd"]


TIMED = [
    ("no application window", ["sleep 7000"], {}, None),
    ("application window at once", ["sleep 300", f"window 7000 {APP_WINDOW}"], {}, APP_WINDOW),
    ("error dialog at once", ["sleep 300", "throw boom"], {"stderrMode": 2}, "Error"),
]


@pytest.mark.parametrize("label,scenario,settings,other", TIMED, ids=[row[0] for row in TIMED])
def test_timed_splash_closes_after_its_seconds_whatever_shows(wine, display, tmp_path, label, scenario, settings,
                                                              other):
    app = splash_app(wine, tmp_path, scenario, splashUntilWindow=False, splashSeconds=3, **settings)
    timeline = Timeline(wine, "app.exe", 8000)
    launcher = wine.start(app.exe)
    seen = timeline.result()
    launcher.kill()

    splash = one(seen, TITLE)
    assert splash["hidden"] is not None, seen
    assert 2000 <= splash["hidden"] - splash["shown"] <= 6000
    others = [w for w in seen["windows"] if w is not splash]
    assert [w["caption"] for w in others] == ([other] if other else []), seen
    assert all(w["shown"] < splash["hidden"] - 1000 for w in others), seen
    if other == "Error":  # the dialog is brought forward when the time is up
        assert foreground_at(seen, 8000) == others[0]["hwnd"]


ERROR_DIALOGS = [
    ("exception out of main", ["sleep 1500", "throw boom"], {}),
    ("JVM cannot be created", [], {"variant": "fail_create"}),
]


@pytest.mark.parametrize("label,scenario,settings", ERROR_DIALOGS, ids=[row[0] for row in ERROR_DIALOGS])
def test_error_dialog_closes_a_watching_splash_and_ends_in_front(wine, display, tmp_path, label, scenario, settings):
    app = splash_app(wine, tmp_path, scenario, splashUntilWindow=True, stdoutMode=2, stderrMode=2, **settings)
    timeline = Timeline(wine, "app.exe", 5000)
    launcher = wine.start(app.exe)
    seen = timeline.result()
    assert wait_window(wine, "app.exe", caption="Error", close="ok")
    assert launcher.wait(30).exit_code == 255

    splash, dialog = one(seen, TITLE), one(seen, "Error")
    assert dialog["hidden"] is None
    assert dialog["shown"] <= splash["hidden"] <= dialog["shown"] + 1500
    assert foreground_at(seen, 5000) == dialog["hwnd"]


def test_no_splash_thread_without_seconds_or_window_watch(wine, display, tmp_path):
    app = splash_app(wine, tmp_path, [f"window 2000 {APP_WINDOW}"], splashUntilWindow=False, splashSeconds=0)
    timeline = Timeline(wine, "app.exe", 3000, hidden=True)
    launcher = wine.start(app.exe)
    seen = timeline.result()
    assert launcher.wait(30).exit_code == 0, app.log
    assert sightings(seen, TITLE) == [] and one(seen, APP_WINDOW)["ever_visible"]


def test_without_bitmap_nothing_shows_and_the_timed_splash_still_ends(wine, display, tmp_path):
    app = splash_app(wine, tmp_path, ["sleep 7000"], bitmap=None, splashUntilWindow=False, splashSeconds=3)
    timeline = Timeline(wine, "app.exe", 8000, hidden=True, caption=TITLE)
    launcher = wine.start(app.exe)
    seen = timeline.result()
    launcher.kill()
    assert app.main_calls(), app.log
    splash = one(seen, TITLE)
    assert not splash["ever_visible"]
    assert splash["hidden"] is not None and 2000 <= splash["hidden"] - splash["shown"] <= 6000


def patched(data: bytes, *fields: tuple[int, int, int]) -> bytes:
    """The file with little-endian (offset, size, value) fields written over it."""
    out = bytearray(data)
    for offset, size, value in fields:
        out[offset:offset + size] = value.to_bytes(size, "little", signed=value < 0)
    return bytes(out)


def os2_bitmap(bits_per_pixel: int) -> bytes:
    pixels = bytes(4 * 2 * 2)
    header = (12).to_bytes(4, "little") + (2).to_bytes(2, "little") * 2 + (1).to_bytes(2, "little") \
        + bits_per_pixel.to_bytes(2, "little")
    return b"BM" + (26 + len(pixels)).to_bytes(4, "little") + bytes(4) + (26).to_bytes(4, "little") + header + pixels


# Offsets in the file: height 22, bits per pixel 28, compression 30 (BITMAPINFOHEADER after 14 bytes).
BAD_BITMAPS = [
    ("not a bitmap", 24, lambda b: b"GIF89a" + b[6:], "not a BMP file"),
    ("PNG inside a BMP", 24, lambda b: patched(b, (30, 4, 5)), "compression"),
    ("run-length coded top-down", 8, lambda b: patched(b, (22, 4, -8), (30, 4, 1)), "top-down"),
    ("OS/2 header with 32 bits per pixel", 24, lambda b: os2_bitmap(32), "OS/2"),
    ("pixel data cut short", 24, lambda b: b[:-40], "cut short"),
]


@pytest.mark.parametrize("label,bits,damage,reason", BAD_BITMAPS, ids=[row[0] for row in BAD_BITMAPS])
def test_packaging_refuses_a_splash_windows_cannot_load(tmp_path, label, bits, damage, reason):
    bitmap = make_bmp(tmp_path / "splash.bmp", 16, 8, bits)
    bitmap.write_bytes(damage(bitmap.read_bytes()))
    config = write_config(tmp_path / "app.toml", {"mainClass": "a.B", "splashBitmap": "splash.bmp"})
    result = subprocess.run([str(harness.paths.dist() / "korvane-pack"), "build", str(config), "-o",
                             str(tmp_path / "app.exe"), "--arch", "x64"], capture_output=True, text=True, timeout=60)
    assert result.returncode != 0
    assert "splash bitmap" in result.stderr and reason in result.stderr
    assert not (tmp_path / "app.exe").exists()
