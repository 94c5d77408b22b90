"""Where the harness finds things. Every location can be moved with an environment variable."""
import os
from pathlib import Path

# tests/e2e/harness/paths.py -> the repository root is three folders up from this file's folder.
REPO_ROOT = Path(__file__).resolve().parents[3]


def _path(var: str, default: Path) -> Path:
    value = os.environ.get(var)
    return Path(value).resolve() if value else default


def build_win64() -> Path:
    """The win64 build folder (KORVANE_BUILD_WIN64, default <repo>/build/win64)."""
    return _path("KORVANE_BUILD_WIN64", REPO_ROOT / "build" / "win64")


def build_host() -> Path:
    """The host build folder (KORVANE_BUILD_HOST, default <repo>/build/host)."""
    return _path("KORVANE_BUILD_HOST", REPO_ROOT / "build" / "host")


def dist() -> Path:
    """Packaged output (KORVANE_DIST, default <repo>/dist)."""
    return _path("KORVANE_DIST", REPO_ROOT / "dist")


def wineprefix() -> Path:
    """The session's Wine prefix (KORVANE_WINEPREFIX, default <repo>/build/wineprefix)."""
    return _path("KORVANE_WINEPREFIX", REPO_ROOT / "build" / "wineprefix")


def artifacts() -> Path:
    """Screenshots and logs of tests (KORVANE_ARTIFACTS, default <repo>/build/test-artifacts)."""
    return _path("KORVANE_ARTIFACTS", REPO_ROOT / "build" / "test-artifacts")


WINE64 = os.environ.get("KORVANE_WINE64", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("KORVANE_WINESERVER", "/usr/lib/wine/wineserver")


def windows_test_program(name: str) -> Path:
    """A program built from tests/wine in the win64 build folder, e.g. windows_test_program("probe")."""
    return build_win64() / "tests" / "wine" / f"{name}.exe"
