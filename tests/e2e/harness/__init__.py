"""End-to-end test harness: Windows programs under Wine, one prefix and wineserver per pytest session.

Functions here act on the session's WineSession (opened on first use, closed by conftest.py at the end
of the session). See tests/e2e/conftest.py for the fixtures.
"""
from typing import Optional

from . import paths
from .paths import REPO_ROOT, windows_test_program
from .procs import marked_pids
from .wine import Background, RunResult, WineSession, wine_exit_code, RUN_MARKER, SESSION_MARKER
from .xvfb import Display, HarnessError

_current: Optional[WineSession] = None


def session() -> WineSession:
    """The session's WineSession, opened on first use."""
    global _current
    if _current is None:
        _current = WineSession()
        try:
            _current.open()
            _current.recent.clear()
        except BaseException:
            _current.close()
            _current = None
            raise
    return _current


def current_or_none() -> Optional[WineSession]:
    return _current


def close_session():
    """Close the session's WineSession if one was opened; returns (session, leaks)."""
    global _current
    s, _current = _current, None
    if s is None:
        return None, []
    return s, s.close()


def run(exe, *args, cwd=None, env=None, timeout: float = 30) -> RunResult:
    return session().run(exe, *args, cwd=cwd, env=env, timeout=timeout)


def start(exe, *args, cwd=None, env=None) -> Background:
    return session().start(exe, *args, cwd=cwd, env=env)


def windows_path(unix_path) -> str:
    return session().windows_path(unix_path)


def reg_add(key: str, name, type: str = "REG_SZ", value="") -> None:
    session().reg_add(key, name, type, value)


def reg_query(key: str, name):
    return session().reg_query(key, name)


def reg_delete(key: str, name=None) -> bool:
    return session().reg_delete(key, name)


from .gtest import run_gtest  # noqa: E402  (needs session())

__all__ = [
    "Background", "Display", "HarnessError", "REPO_ROOT", "RunResult", "WineSession", "close_session",
    "current_or_none", "marked_pids", "paths", "reg_add", "reg_delete", "reg_query", "run", "run_gtest",
    "session", "start", "wine_exit_code", "windows_path", "windows_test_program",
    "RUN_MARKER", "SESSION_MARKER",
]
