"""A private Xvfb screen."""
import os
import select
import subprocess
import time
from pathlib import Path
from typing import Optional

from . import procs


class HarnessError(RuntimeError):
    """The harness itself could not do its job (not a failure of the program under test)."""


class Display:
    """Xvfb on a free display number. Xvfb picks the number itself (-displayfd), so two test runs
    on one machine cannot race for the same one; it writes the number once it accepts clients."""

    def __init__(self, size: str = "1024x768x24", env: Optional[dict] = None):
        self.size = size
        self.env = env
        self.proc: Optional[subprocess.Popen] = None
        self.number: Optional[int] = None

    @property
    def name(self) -> str:
        return f":{self.number}"

    def start(self, first: int = 100, last: int = 999, timeout: float = 15) -> "Display":
        """Start Xvfb on the first display number in FIRST..LAST that has no lock file or socket
        (numbers another server takes meanwhile are skipped: that Xvfb exits and the next is tried)."""
        for number in range(first, last + 1):
            if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
                continue
            if self._try(number, timeout):
                return self
        raise HarnessError(f"no free X display number in {first}..{last}")

    def _try(self, number: int, timeout: float) -> bool:
        # -displayfd: Xvfb writes the number to the pipe once it accepts clients.
        read_fd, write_fd = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", f":{number}", "-displayfd", str(write_fd), "-screen", "0", self.size,
                 "-nolisten", "tcp"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True, env=self.env)
            os.close(write_fd)
            write_fd = -1
            data = b""
            deadline = time.monotonic() + timeout
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_fd], [], [], left)[0]:
                    raise HarnessError(f"Xvfb :{number} did not get ready in {timeout} s")
                chunk = os.read(read_fd, 16)
                if not chunk:        # exited: the number was taken after all
                    self.proc.wait(timeout=5)
                    self.proc = None
                    return False
                data += chunk
            self.number = int(data)
            return True
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_fd)
            if write_fd >= 0:
                os.close(write_fd)

    @property
    def socket_file(self) -> Path:
        # With -displayfd, Xvfb writes no /tmp/.X<n>-lock; its socket marks the number as taken.
        return Path(f"/tmp/.X11-unix/X{self.number}")

    def screenshot(self, path: Path) -> Path:
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-display", self.name, "-window", "root", str(path)],
                       check=True, timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        return path

    def stop(self) -> None:
        if self.proc is None:
            return
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                procs.kill_group(self.proc)
        self.proc = None
