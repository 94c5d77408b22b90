"""One Wine prefix and one persistent wineserver for a whole test session."""
import fcntl
import itertools
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import uuid
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional, Sequence, Union

from . import paths, procs
from .xvfb import Display, HarnessError

# Bump when the way a prefix is prepared changes: prefixes with another stamp are made anew.
PREFIX_RECIPE = "1"
STAMP_NAME = ".korvane-prefix-stamp"

SESSION_MARKER = "KORVANE_E2E_SESSION"
RUN_MARKER = "KORVANE_E2E_RUN"

VIRTUAL_DESKTOP = (
    (r"HKCU\Software\Wine\Explorer", "Desktop", "Default"),
    (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "1024x768"),
)

PathLike = Union[str, os.PathLike]


def wine_exit_code(code: int) -> int:
    """The exit code a Windows program's exit(CODE) shows as under Wine: cut to 8 bits (-1 -> 255,
    0xC0000005 -> 5), except that a non-zero code whose low 8 bits are 0 shows as 1 (256 -> 1)."""
    low = code & 0xFF
    return 1 if code and not low else low


@dataclass
class RunResult:
    argv: List[str]
    exit_code: Optional[int]  # 0..255 as Wine reports it; None when the program was killed
    stdout: str               # decoded (UTF-8, bad bytes replaced), CRLF turned into LF
    stderr: str
    timed_out: bool = False
    killed: bool = False
    duration: float = 0.0
    stdout_bytes: bytes = field(default=b"", repr=False)
    stderr_bytes: bytes = field(default=b"", repr=False)

    def __str__(self) -> str:
        status = ("timed out" if self.timed_out else "killed" if self.killed
                  else f"exit code {self.exit_code}")
        return (f"{' '.join(self.argv)}: {status} after {self.duration:.2f}s\n"
                f"--- stdout ---\n{self.stdout}--- stderr ---\n{self.stderr}")


def _decode(data: bytes) -> str:
    return data.decode("utf-8", errors="replace").replace("\r\n", "\n")


class Background:
    """A program started with WineSession.start(). Output goes to files, so a program that leaves
    children behind holding its stdout cannot make wait() hang."""

    def __init__(self, session: "WineSession", argv, proc, run_id, out_path: Path, err_path: Path):
        self.session = session
        self.argv = argv
        self.proc = proc
        self.run_id = run_id
        self._out = out_path
        self._err = err_path
        self._started = time.monotonic()
        self._result: Optional[RunResult] = None

    @property
    def pid(self) -> int:
        return self.proc.pid

    def poll(self) -> Optional[int]:
        return self.proc.poll()

    @property
    def alive(self) -> bool:
        return self.proc.poll() is None

    def output_so_far(self) -> str:
        """What the program has written to its stdout until now (it may still be running)."""
        return _decode(self._out.read_bytes()) if self._result is None else self._result.stdout

    def wait_for_output(self, text: str, timeout: float = 15) -> bool:
        deadline = time.monotonic() + timeout
        while text not in self.output_so_far():
            if time.monotonic() > deadline or not self.alive:
                return text in self.output_so_far()
            time.sleep(0.05)
        return True

    def processes(self) -> List[int]:
        """Unix ids of the live processes of this run: the program and whatever it started."""
        return procs.marked_pids(RUN_MARKER, self.run_id)

    def kill_tree(self) -> None:
        """SIGKILL the program's process group, then every process still carrying this run's marker
        (Windows children Wine put into sessions of their own). The wineserver sees the unix processes
        die and closes their Windows side; other programs in the session are not touched."""
        procs.kill_group(self.proc)
        for _ in range(3):
            left = self.processes()
            if not left:
                break
            procs.kill_pids(left)
            time.sleep(0.05)

    def wait(self, timeout: float = 30) -> RunResult:
        """Wait for the program to end; past TIMEOUT seconds kill it (and its children) and report
        timed_out=True, exit_code=None."""
        if self._result is None:
            timed_out = False
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                timed_out = True
                self.kill_tree()
            self._finish(timed_out=timed_out, killed=timed_out)
        return self._result

    def kill(self) -> RunResult:
        """Kill the program and its children now; returns its result (killed=True if it was running)."""
        if self._result is None:
            was_running = self.alive
            self.kill_tree()
            self._finish(timed_out=False, killed=was_running)
        return self._result

    def _finish(self, timed_out: bool, killed: bool) -> None:
        out = self._out.read_bytes()
        err = self._err.read_bytes()
        for p in (self._out, self._err):
            p.unlink(missing_ok=True)
        code = None if killed else self.proc.returncode
        self._result = RunResult(self.argv, code, _decode(out), _decode(err), timed_out, killed,
                                 time.monotonic() - self._started, out, err)
        self.session._forget(self)


class WineSession:
    """Owns the prefix lock, the persistent wineserver, an optional Xvfb, and every program started."""

    def __init__(self, prefix: Optional[Path] = None, log=None):
        self.prefix = Path(prefix) if prefix else paths.wineprefix()
        self.token = uuid.uuid4().hex[:12]
        self.log = log or (lambda msg: print(f"[wine harness] {msg}", file=sys.stderr))
        self.display: Optional[str] = None       # DISPLAY for runs; set only while a test holds `display`
        self.timings: Dict[str, float] = {}
        self.run_count = 0
        self.run_seconds = 0.0
        self.recent: List[RunResult] = []        # results of the current test, for failure reports
        self._runs = itertools.count(1)
        self._live: Dict[str, Background] = {}
        self._server: Optional[subprocess.Popen] = None
        self._xvfb: Optional[Display] = None
        self._lock_file = None
        self._tmp: Optional[Path] = None
        self.closed = False

    # ----------------------------------------------------------------- environment
    def base_env(self) -> Dict[str, str]:
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(WINEPREFIX=str(self.prefix), WINEARCH="win64",
                   WINEDLLOVERRIDES="mscoree,mshtml=", **{SESSION_MARKER: self.token})
        env["WINEDEBUG"] = os.environ.get("KORVANE_WINEDEBUG", "-all")
        return env

    def _env(self, extra: Optional[Dict[str, Optional[str]]] = None) -> Dict[str, str]:
        env = self.base_env()
        if self.display:
            env["DISPLAY"] = self.display
        for k, v in (extra or {}).items():
            if v is None:
                env.pop(k, None)
            else:
                env[k] = str(v)
        return env

    def _tool(self, *argv: str, timeout: float = 120, check: bool = True) -> subprocess.CompletedProcess:
        r = subprocess.run(list(argv), env=self._env(), stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=timeout, start_new_session=True)
        if check and r.returncode != 0:
            raise HarnessError(f"{' '.join(argv)} failed with {r.returncode}: "
                               f"{_decode(r.stdout)}{_decode(r.stderr)}")
        return r

    # ----------------------------------------------------------------- life cycle
    def open(self) -> "WineSession":
        t0 = time.monotonic()
        self._tmp = Path(tempfile.mkdtemp(prefix="korvane-e2e-"))
        self._lock()
        self._ensure_prefix()
        self._start_server()
        self.timings["session_start"] = time.monotonic() - t0
        return self

    def _lock(self) -> None:
        self.prefix.parent.mkdir(parents=True, exist_ok=True)
        self._lock_file = open(self.prefix.parent / (self.prefix.name + ".lock"), "w")
        try:
            fcntl.flock(self._lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            self.log(f"another test run uses {self.prefix}; waiting for it to finish")
            fcntl.flock(self._lock_file, fcntl.LOCK_EX)

    def _ensure_prefix(self) -> None:
        stamp = self.prefix / STAMP_NAME
        if stamp.is_file() and stamp.read_text().strip() == f"recipe={PREFIX_RECIPE}":
            return
        t0 = time.monotonic()
        self.log(f"creating the Wine prefix {self.prefix} (once; 15-25 s)")
        self._tool(paths.WINESERVER, "-k", check=False)
        if self.prefix.exists():
            shutil.rmtree(self.prefix)
        self._tool(paths.WINE64, "wineboot", "-i", timeout=300)
        for key, name, value in VIRTUAL_DESKTOP:
            self._tool(paths.WINE64, "reg", "add", key, "/v", name, "/d", value, "/f")
        self._tool(paths.WINESERVER, "-w", timeout=300)   # let wineboot's helpers finish and save
        stamp.write_text(f"recipe={PREFIX_RECIPE}\n")
        self.timings["prefix_created"] = time.monotonic() - t0

    def _server_socket(self) -> Optional[Path]:
        # The server works in its own folder (Debian's Wine puts it under a random /tmp/wine-XXXXXX),
        # so its socket is found through its current folder rather than computed.
        try:
            return Path(os.readlink(f"/proc/{self._server.pid}/cwd")) / "socket"
        except OSError:
            return None

    def _server_listening(self) -> bool:
        path = self._server_socket()
        if path is None:
            return False
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            s.connect(str(path))
            return True
        except OSError:
            return False
        finally:
            s.close()

    def _start_server(self) -> None:
        for attempt in range(2):
            self._server = subprocess.Popen([paths.WINESERVER, "-f", "-p"], env=self._env(),
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.PIPE, start_new_session=True)
            deadline = time.monotonic() + 15
            while not self._server_listening():
                if self._server.poll() is not None:
                    break
                if time.monotonic() > deadline:
                    raise HarnessError("wineserver did not start listening")
                time.sleep(0.02)
            self._server.stderr.close()
            if self._server.poll() is None:
                break
            # We hold the prefix lock, so a server already running on this prefix is left over from
            # an earlier run that died: end it (and its programs), then start ours again.
            if attempt == 0:
                self.log("ending a wineserver left over from an earlier run")
                self._tool(paths.WINESERVER, "-k", check=False)
        else:
            raise HarnessError(f"wineserver exited with {self._server.returncode} at start")
        # The first launch boots the server's world (services.exe, explorer...); it also checks
        # that the prefix still has the virtual desktop.
        if self.reg_query(*VIRTUAL_DESKTOP[0][:2]) != VIRTUAL_DESKTOP[0][2]:
            for key, name, value in VIRTUAL_DESKTOP:
                self.reg_add(key, name, "REG_SZ", value)

    def use_display(self, name: Optional[str]) -> None:
        """Give programs DISPLAY=NAME from now on (None: no DISPLAY). The explorer.exe that draws the
        virtual desktop keeps the DISPLAY (or none) of the program that made it start, and later
        programs join it: so on a change the explorer of the other kind is ended, and the next
        program that needs a desktop starts one with its own DISPLAY."""
        if name == self.display:
            return
        self.display = name
        wanted = b"DISPLAY=" + name.encode() if name else None
        for pid in procs.marked_pids(SESSION_MARKER, self.token):
            try:
                cmd = Path(f"/proc/{pid}/cmdline").read_bytes()
                env = Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
            except OSError:
                continue
            if b"explorer.exe" in cmd.lower():
                has = next((e for e in env if e.startswith(b"DISPLAY=")), None)
                if has != wanted:
                    procs.kill_pids([pid])

    def screen(self) -> Display:
        """The session's Xvfb, started on first use."""
        if self._xvfb is None:
            t0 = time.monotonic()
            self._xvfb = Display(env=self._env()).start()
            self.timings["xvfb_start"] = time.monotonic() - t0
        return self._xvfb

    def close(self) -> List[str]:
        """Stop everything this session started. Returns descriptions of processes that had to be
        killed because they outlived the orderly stop (empty when all went well)."""
        if self.closed:
            return []
        self.closed = True
        for bg in list(self._live.values()):
            bg.kill()
        if self._server is not None:
            t0 = time.monotonic()
            try:
                self._tool(paths.WINESERVER, "-k", check=False, timeout=30)
                self._server.wait(timeout=15)
            except subprocess.TimeoutExpired:
                procs.kill_group(self._server)
            self.timings["server_stop"] = time.monotonic() - t0
        if self._xvfb is not None:
            self._xvfb.stop()
        leaks = self._leftovers(grace=5)
        if self._xvfb is not None and self._xvfb.socket_file.exists():
            leaks.append(f"X socket {self._xvfb.socket_file} still present")
        if self._tmp:
            shutil.rmtree(self._tmp, ignore_errors=True)
        if self._lock_file:
            self._lock_file.close()
        return leaks

    def _leftovers(self, grace: float) -> List[str]:
        deadline = time.monotonic() + grace
        while True:
            pids = procs.marked_pids(SESSION_MARKER, self.token)
            if not pids or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        leaks = []
        for pid in pids:
            try:
                cmd = Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
            except OSError:
                cmd = "?"
            leaks.append(f"pid {pid}: {cmd.strip()}")
        procs.kill_pids(pids)
        return leaks

    # ----------------------------------------------------------------- folders and programs
    build_win64 = property(lambda self: paths.build_win64())
    build_host = property(lambda self: paths.build_host())
    dist = property(lambda self: paths.dist())

    def run_gtest(self, exe_path: PathLike, *args: PathLike, env=None, timeout: float = 120) -> RunResult:
        """See harness.run_gtest (this session's form of it)."""
        from .gtest import run_gtest
        return run_gtest(exe_path, *args, env=env, timeout=timeout, session=self)

    def start(self, exe: PathLike, *args: PathLike, cwd: Optional[PathLike] = None,
              env: Optional[Dict[str, Optional[str]]] = None) -> Background:
        """Start `wine64 EXE ARGS...` in the background. EXE is a unix path to a .exe or the name of a
        program in the prefix (reg, cmd...). ENV adds to the session environment (None removes)."""
        if self.closed or self._tmp is None:
            raise HarnessError("the Wine session is not open")
        run_id = f"{self.token}-{next(self._runs)}"
        argv = [paths.WINE64, str(exe), *map(str, args)]
        out_path, err_path = self._tmp / f"{run_id}.out", self._tmp / f"{run_id}.err"
        full_env = self._env(env)
        full_env[RUN_MARKER] = run_id
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(argv, cwd=cwd, env=full_env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, start_new_session=True)
        bg = Background(self, argv, proc, run_id, out_path, err_path)
        self._live[run_id] = bg
        return bg

    def run(self, exe: PathLike, *args: PathLike, cwd: Optional[PathLike] = None,
            env: Optional[Dict[str, Optional[str]]] = None, timeout: float = 30) -> RunResult:
        """Run `wine64 EXE ARGS...` to its end; past TIMEOUT seconds it is killed (timed_out=True)."""
        return self.start(exe, *args, cwd=cwd, env=env).wait(timeout)

    def _forget(self, bg: Background) -> None:
        self._live.pop(bg.run_id, None)
        r = bg._result
        self.run_count += 1
        self.run_seconds += r.duration
        self.recent.append(r)

    def end_test(self) -> None:
        """Called after each test: kill what its programs left running, forget its results."""
        for bg in list(self._live.values()):
            bg.kill()
        self.recent.clear()

    # ----------------------------------------------------------------- paths and registry
    def windows_path(self, unix_path: PathLike) -> str:
        """The Windows form of a unix path through the prefix's drive letters, as winepath -w gives
        it: <prefix>/drive_c/x -> C:\\x, anything else -> Z:\\..."""
        p = os.path.realpath(os.fspath(unix_path))
        best = None
        for dev in (self.prefix / "dosdevices").iterdir():
            if len(dev.name) != 2 or dev.name[1] != ":":
                continue
            target = os.path.realpath(dev)
            root = target.rstrip("/") + "/"
            if (p == target or p.startswith(root)) and (best is None or len(target) > len(best[1])):
                best = (dev.name.upper(), target)
        if best is None:
            raise HarnessError(f"no drive of the prefix reaches {p}")
        rest = p[len(best[1]):].strip("/")
        return best[0] + "\\" + rest.replace("/", "\\")

    def reg_add(self, key: str, name: Optional[str], type: str = "REG_SZ",
                value: Union[str, int, Sequence[str]] = "") -> None:
        """`reg add` in the session prefix. NAME None sets the key's default value; a list VALUE for
        REG_MULTI_SZ is joined with \\0."""
        if type == "REG_MULTI_SZ" and not isinstance(value, str):
            value = "\\0".join(value)
        r = self.run("reg", "add", key, *(["/ve"] if name is None else ["/v", name]),
                     "/t", type, "/d", str(value), "/f", timeout=60)
        if r.exit_code != 0:
            raise HarnessError(f"reg add failed: {r}")

    def reg_query(self, key: str, name: Optional[str]):
        """A value from the session prefix's registry, or None when it is missing. REG_DWORD and
        REG_QWORD give int, REG_MULTI_SZ a list of str, other types str."""
        r = self.run("reg", "query", key, *(["/ve"] if name is None else ["/v", name]), timeout=60)
        if r.exit_code == 1:
            return None
        if r.exit_code != 0:
            raise HarnessError(f"reg query failed: {r}")
        wanted = "(Default)" if name is None else name
        for line in r.stdout.split("\n"):
            if not line.startswith("    "):
                continue
            parts = line[4:].split("    ", 2)
            if len(parts) < 2 or parts[0].lower() != wanted.lower():
                continue
            kind, data = parts[1], parts[2] if len(parts) == 3 else ""
            if kind in ("REG_DWORD", "REG_QWORD"):
                return int(data, 16)
            if kind == "REG_MULTI_SZ":
                return data.split("\\0") if data else []
            return data
        raise HarnessError(f"cannot read {wanted} from reg query output: {r}")

    def reg_delete(self, key: str, name: Optional[str] = None) -> bool:
        """Delete KEY (with its subkeys) or one value of it; False when there was nothing to delete."""
        r = self.run("reg", "delete", key, *([] if name is None else ["/v", name]), "/f", timeout=60)
        if r.exit_code not in (0, 1):
            raise HarnessError(f"reg delete failed: {r}")
        return r.exit_code == 0
