"""Unix process bookkeeping: process groups we started, and processes found by an environment marker.

Every process the harness starts gets its own session (so Ctrl-C in the terminal reaches only pytest),
and carries marker variables in its environment. Wine copies the environment into the Windows
processes a program starts (and into services.exe, explorer.exe and the like that the first launch
of a server starts), and even children Wine puts in a session of their own still carry the markers, so
scanning /proc for a marker finds everything that belongs to a run or to the whole session.
"""
import os
import signal
import subprocess
from pathlib import Path
from typing import Iterable, List


def marked_pids(name: str, value: str) -> List[int]:
    """Live (non-zombie) processes whose environment holds NAME=VALUE."""
    needle = f"{name}={value}".encode()
    found = []
    me = os.getpid()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == me:
            continue
        try:
            stat = (entry / "stat").read_text()
            if stat[stat.rindex(")") + 2] in "ZX":
                continue
            env = (entry / "environ").read_bytes()
        except (OSError, ValueError, IndexError):
            continue
        if needle in env.split(b"\0"):
            found.append(int(entry.name))
    return found


def kill_pids(pids: Iterable[int]) -> None:
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def kill_group(proc: subprocess.Popen) -> None:
    """SIGKILL the process group PROC leads (it was started with start_new_session), then reap it."""
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def alive(pid: int) -> bool:
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except OSError:
        return False
    return stat[stat.rindex(")") + 2] not in "ZX"
