"""pytest wiring of the Wine harness (tests/e2e/harness).

Fixtures:
  wine            the session's harness.WineSession (prefix + persistent wineserver), opened on first use
  display         a harness.Display (Xvfb with Wine's virtual desktop); DISPLAY is given to the programs a
                  test runs only while the test holds this fixture. A failing test that used it leaves
                  build/test-artifacts/<test>.png.
  screenshot      screenshot(name) -> Path: keep build/test-artifacts/<test>-<name>.png on purpose
  probe_exe       path to the probe program (tests/wine/probe.c) in the win64 build folder
After each test, programs it started that are still running are killed. At the end of the session the
wineserver and Xvfb are stopped; anything of the session still alive then is killed and fails the run.
"""
import atexit
import re
import signal
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

_report = {"leaks": [], "session": None}


def _artifact_name(nodeid: str) -> str:
    return re.sub(r"[^A-Za-z0-9_.-]+", "_", nodeid.split("::", 1)[-1] if "::" in nodeid else nodeid)


def _artifact(item, suffix: str) -> Path:
    d = harness.paths.artifacts()
    d.mkdir(parents=True, exist_ok=True)
    return d / f"{_artifact_name(item.nodeid)}{suffix}"


def _interrupt(signum, frame):
    raise KeyboardInterrupt(f"signal {signum}")


def pytest_configure(config):
    # SIGTERM / SIGHUP end the run like Ctrl-C, so the session's teardown still runs.
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, _interrupt)
    atexit.register(harness.close_session)


@pytest.fixture(scope="session")
def wine() -> harness.WineSession:
    return harness.session()


@pytest.fixture
def display(wine):
    screen = wine.screen()
    wine.use_display(screen.name)
    yield screen
    wine.use_display(None)


@pytest.fixture
def screenshot(display, request):
    def take(name: str) -> Path:
        return display.screenshot(_artifact(request.node, f"-{name}.png"))
    return take


@pytest.fixture(scope="session")
def probe_exe() -> Path:
    exe = harness.windows_test_program("probe")
    if not exe.is_file():
        pytest.fail(f"{exe} is missing: build the target probe in the win64 build folder "
                    f"(KORVANE_BUILD_WIN64={harness.paths.build_win64()})", pytrace=False)
    return exe


@pytest.fixture(autouse=True)
def _end_of_test_cleanup():
    yield
    s = harness.current_or_none()
    if s is not None:
        s.end_test()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    rep = outcome.get_result()
    if rep.when == "setup":  # artifacts of an earlier run of this test would mislead
        for suffix in (".png", ".log"):
            _artifact(item, suffix).unlink(missing_ok=True)
    if not rep.failed or rep.when == "teardown":
        return
    s = harness.current_or_none()
    if s is None:
        return
    if s.recent:
        log = "\n\n".join(str(r) for r in s.recent)
        _artifact(item, ".log").write_text(log)
        rep.sections.append(("wine runs", log[-20000:]))
    if "display" in getattr(item, "funcargs", {}) and s.display:
        try:
            shot = item.funcargs["display"].screenshot(_artifact(item, ".png"))
            rep.sections.append(("screenshot", str(shot)))
        except Exception as e:  # a missing screenshot must not hide the test's own failure
            rep.sections.append(("screenshot", f"failed: {e}"))


@pytest.hookimpl(trylast=True)
def pytest_sessionfinish(session, exitstatus):
    s, leaks = harness.close_session()
    _report["session"], _report["leaks"] = s, leaks
    if leaks:
        session.exitstatus = pytest.ExitCode.TESTS_FAILED


def pytest_terminal_summary(terminalreporter):
    s = _report["session"]
    if s is None:
        return
    t = s.timings
    parts = []
    if "prefix_created" in t:
        parts.append(f"prefix created in {t['prefix_created']:.1f} s")
    parts.append(f"session start {t.get('session_start', 0):.1f} s")
    if s.run_count:
        parts.append(f"{s.run_count} runs, {s.run_seconds / s.run_count:.2f} s each on average")
    if "xvfb_start" in t:
        parts.append(f"Xvfb start {t['xvfb_start']:.2f} s")
    if "server_stop" in t:
        parts.append(f"wineserver stop {t['server_stop']:.1f} s")
    terminalreporter.write_line("wine harness: " + ", ".join(parts))
    for leak in _report["leaks"]:
        terminalreporter.write_line(f"wine harness: LEFT RUNNING AFTER THE SESSION (killed): {leak}",
                                    red=True)
