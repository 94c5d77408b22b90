"""The Windows test tools (tests/tools) as Python calls: find and close windows, hold a mutex,
run a program with an exact command line, show a report through the launcher's code."""
import json
from pathlib import Path

from harness import paths


def tool(name: str) -> Path:
    return paths.build_win64() / "tests" / "tools" / f"{name}.exe"


def wait_window(wine, exe: str, close: str | None = None, timeout_ms: int = 15000, **filters) -> dict | None:
    """Waits for a visible top-level window of the program `exe`; returns its description."""
    args = ["wait", "--exe", exe, "--timeout", str(timeout_ms)]
    for key, value in filters.items():
        args += [f"--{key.rstrip('_')}", value]
    if close:
        args += ["--close", close]
    result = wine.run(tool("ui_helper"), *args, timeout=timeout_ms / 1000 + 10)
    return json.loads(result.stdout) if result.exit_code == 0 else None


def no_window(wine, exe: str, timeout_ms: int = 1500) -> bool:
    """True when the program shows no window within the time."""
    return wine.run(tool("ui_helper"), "absent", "--exe", exe, "--timeout", str(timeout_ms)).exit_code == 0


def message_text(window: dict) -> str:
    """The text of a message box: its static control with id 65535 (or -1)."""
    return next(c["text"] for c in window["controls"] if c["id"] in (-1, 65535) and c["class"].lower() == "static"
                and c["text"])


def message_icon(window: dict) -> str | None:
    return next((c["icon"] for c in window["controls"] if c.get("icon")), None)


def control(window: dict, control_id: int) -> dict:
    return next(c for c in window["controls"] if c["id"] == control_id)


class HeldMutex:
    """A named mutex held by another process, as a running launcher would hold it."""

    def __init__(self, wine, name: str):
        self.process = wine.start(tool("hold_mutex"), name, "120000")
        assert self.process.wait_for_output("held"), "the mutex could not be taken"

    def release(self):
        self.process.kill()


class Timeline:
    """Watches the top-level windows of the program `exe` (visible ones, or all with hidden=True) and
    the foreground window for `duration_ms`; result() gives when each window came and went."""

    def __init__(self, wine, exe: str, duration_ms: int, hidden: bool = False, **filters):
        args = ["timeline", "--exe", exe, "--timeout", str(duration_ms), "--hidden", "1" if hidden else "0"]
        for key, value in filters.items():
            args += [f"--{key}", value]
        self.duration_ms = duration_ms
        self.process = wine.start(tool("ui_helper"), *args)
        assert self.process.wait_for_output("watching"), "the window timeline did not start"

    def result(self) -> dict:
        out = self.process.wait(self.duration_ms / 1000 + 30).stdout
        return json.loads(out.split("watching\n", 1)[1])
