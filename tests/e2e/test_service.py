"""The launcher as a Windows service under Wine's service control manager: installation and removal
with what they write to the registry, and the service's life from start to stop, time-out and failure.

The tests run in a Wine session of their own. Wine keeps no event log: with WINEDEBUG=+eventlog each
ReportEvent call prints its text as debug output, and a service's debug output goes to the stderr of
the program that started services.exe, the first program of a wineserver's life. So this session, with
a prefix of its own beside the shared one, gives every program WINEDEBUG=-all,+eventlog, and reads
services.exe's stderr through /proc: it is the output file of the session's first run, which the harness
deletes when that run ends but services.exe keeps open.

Run: python3 -m pytest -c tests/e2e/pytest.ini tests/e2e/test_service.py (about a minute; the stop
time-out alone takes 30 s).
"""
import re
import time
from pathlib import Path

import pytest

import harness
from double import DoubleApp, double_dll, unescape
from fixtures import package
from tools import message_text, tool, wait_window

SERVICES = r"HKLM\SYSTEM\CurrentControlSet\Services"
EVENT_LOG = SERVICES + r"\EventLog\Application"
MODE_SWITCH = "-startlauncherinservicemode"
STATES = {1: "STOPPED", 2: "START_PENDING", 3: "STOP_PENDING", 4: "RUNNING"}


class EventLogSession(harness.WineSession):
    """A Wine session whose services.exe prints the event-log calls of every service."""

    def base_env(self):
        env = super().base_env()
        env["WINEDEBUG"] = "-all,+eventlog"
        return env

    def _services_stderr(self) -> Path:
        for pid in harness.marked_pids(harness.SESSION_MARKER, self.token):
            try:
                if b"services.exe" in Path(f"/proc/{pid}/cmdline").read_bytes().lower():
                    return Path(f"/proc/{pid}/fd/2")
            except OSError:
                continue
        raise harness.HarnessError("services.exe is not running")

    def event_mark(self) -> int:
        return len(self._services_stderr().read_bytes())

    def events(self, mark: int = 0) -> list[tuple[str, str]]:
        """(kind, text) of each event since MARK: kind "info" or "error", text without its escapes."""
        text = self._services_stderr().read_bytes()[mark:].decode("utf-8", errors="replace")
        return [("error" if kind == "err" else "info", unescape(body))
                for kind, body in re.findall(r'^[0-9a-f]+:(trace|err):eventlog:ReportEventW L"(.*)"$', text, re.M)]


@pytest.fixture(scope="module")
def wine():
    prefix = harness.paths.wineprefix()
    session = EventLogSession(prefix.parent / (prefix.name + "-services"))
    try:
        session.open()
        yield session
    finally:
        leaks = session.close()
    assert not leaks, leaks


@pytest.fixture(autouse=True)
def _end_of_test(wine):
    yield
    wine.end_test()


def query(wine, name: str) -> dict | None:
    """`sc query NAME` as {"STATE": 4, "WIN32_EXIT_CODE": 0, ...}; None when there is no such service."""
    result = wine.run("sc", "query", name)
    if result.exit_code != 0:
        return None
    return {key: int(value) for key, value in re.findall(r"^\s+(\w+)\s+: (\d+)", result.stdout, re.M)}


def service_config(wine, name: str) -> dict[str, list[str]]:
    """The service's configuration as QueryServiceConfigA gives it: each key with its values."""
    result = wine.run(tool("service_config"), name)
    assert result.exit_code == 0, result
    config: dict[str, list[str]] = {}
    for line in result.stdout.splitlines():
        key, value = line.split("=", 1)
        config.setdefault(key, []).append(value)
    return config


def wait_state(wine, name: str, state: int, timeout: float) -> float:
    """Seconds until the service reaches STATE; fails past TIMEOUT."""
    start = time.monotonic()
    while True:
        current = (query(wine, name) or {}).get("STATE")
        if current == state:
            return time.monotonic() - start
        assert time.monotonic() - start < timeout, f"{name} is {STATES.get(current, current)}, not {STATES[state]}"
        time.sleep(0.2)


def launcher_processes(wine, exe: Path) -> list[int]:
    """Live processes of the session running EXE (services start theirs outside any test run)."""
    found = []
    for pid in harness.marked_pids(harness.SESSION_MARKER, wine.token):
        try:
            if exe.name.lower().encode() in Path(f"/proc/{pid}/cmdline").read_bytes().lower():
                found.append(pid)
        except OSError:
            pass
    return found


def wait_gone(wine, exe: Path, timeout: float = 10) -> None:
    deadline = time.monotonic() + timeout
    while launcher_processes(wine, exe):
        assert time.monotonic() < deadline, f"{exe.name} still runs"
        time.sleep(0.1)


class Service:
    """A packaged launcher with a service name, installed without a display (the confirmation box
    then fails at once) and removed again at the end of the test."""

    def __init__(self, wine, folder: Path, name: str, scenario: list[str], variant: str = "normal", **settings):
        self.wine, self.name = wine, name
        self.app = DoubleApp(wine, folder, scenario, name=f"{name}.exe", variant=variant, serviceName=name,
                             serviceManualStart=True, **settings)
        self.exe = self.app.exe
        assert wine.run(self.exe, "-install").exit_code == 0
        assert query(wine, name) is not None, f"{name} was not installed"

    def start(self) -> int:
        mark = self.wine.event_mark()
        result = self.wine.run("sc", "start", self.name)
        assert result.exit_code == 0, result
        return mark

    def stop(self) -> None:
        assert self.wine.run("sc", "stop", self.name).exit_code == 0

    def remove(self) -> None:
        if (query(self.wine, self.name) or {}).get("STATE", 1) != 1:
            self.wine.run("sc", "stop", self.name)
            wait_state(self.wine, self.name, 1, 45)
        self.wine.run("sc", "delete", self.name)


@pytest.fixture
def service(wine, tmp_path):
    made = []

    def make(name: str, scenario: list[str], **settings) -> Service:
        made.append(Service(wine, tmp_path, name, scenario, **settings))
        return made[-1]

    yield make
    for s in made:
        s.remove()


def started(name):
    return ("info", f"The {name} service has started.")


def stopped(name):
    return ("info", f"The {name} service has stopped.")


# ---------------------------------------------------------------- installation and removal

def test_install_and_uninstall_report_each_outcome(wine, tmp_path, display):
    exe = package(tmp_path, {"mainClass": "com.example.Main", "serviceName": "KvLifecycle"})

    def outcome(switch: str) -> tuple[str, str]:
        run = wine.start(exe, switch)
        window = wait_window(wine, exe.name, close="ok")
        assert run.wait(15).exit_code == 0
        assert window is not None, f"no message box for {switch}"
        return window["caption"], message_text(window)

    try:
        assert outcome("-install") == ("Information", "Service installed: KvLifecycle")
        assert outcome("-install") == ("Error", "Service is already installed: KvLifecycle")
        assert outcome("-uninstall") == ("Information", "Service uninstalled: KvLifecycle")
        assert query(wine, "KvLifecycle") is None
        caption, text = outcome("-uninstall")
        assert caption == "Error" and "service does not exist" in text.lower(), text
    finally:
        wine.run("sc", "delete", "KvLifecycle")


# Wine 8's CreateServiceA keeps only the first element of a dependency list (its CreateServiceW keeps
# them all), so here a list shows as its first element; service_core_test checks the whole list.
INSTALLATIONS = [
    # label, settings, expected type, start type, dependencies, Description value
    ("automatic with description", {"serviceDescription": "Korvane test app"}, 0x10, 2, [], "Korvane test app"),
    ("manual interactive with dependencies", {"serviceManualStart": True, "serviceInteractive": True,
                                              "serviceDependencies": "RpcSs;PlugPlay;"}, 0x110, 3, ["RpcSs"], None),
    ("leading semicolon gives no dependencies", {"serviceDependencies": ";RpcSs"}, 0x10, 2, [], None),
]


@pytest.mark.parametrize("settings,kind,start,dependencies,description",
                         [row[1:] for row in INSTALLATIONS], ids=[row[0] for row in INSTALLATIONS])
def test_installation_writes_the_service_and_its_registry_values(wine, tmp_path, settings, kind, start,
                                                                 dependencies, description):
    name = "KvInstall"
    exe = package(tmp_path / "my app", {"mainClass": "com.example.Main", "serviceName": name, **settings})
    try:
        assert wine.run(exe, "-install").exit_code == 0
        config = service_config(wine, name)
        assert config["binary"] == [f'"{wine.windows_path(exe)}" {MODE_SWITCH}']
        assert (config["type"], config["start"], config["display"]) == ([str(kind)], [str(start)], [name])
        assert config.get("dependency", []) == dependencies
        assert wine.reg_query(SERVICES + "\\" + name, "Description") == description
        assert wine.reg_query(EVENT_LOG + "\\" + name, "EventMessageFile") == wine.windows_path(exe)
        assert wine.reg_query(EVENT_LOG + "\\" + name, "TypesSupported") == 7
    finally:
        wine.run("sc", "delete", name)


SWITCHES_FOR_THE_APPLICATION = [
    ("no service name", "", ["-install"]),
    ("a further argument", "KvArgs", ["-install", "now"]),
    ("another case", "KvArgs", ["-Install"]),
]


@pytest.mark.parametrize("name,arguments", [row[1:] for row in SWITCHES_FOR_THE_APPLICATION],
                         ids=[row[0] for row in SWITCHES_FOR_THE_APPLICATION])
def test_words_that_are_no_service_switch_reach_the_application(wine, tmp_path, name, arguments):
    app = DoubleApp(wine, tmp_path, [], serviceName=name)
    assert wine.run(app.exe, *arguments).exit_code == 0
    quoted = ", ".join(f'"{a}"' for a in arguments)
    assert app.main_calls() == [f'main thread="main" args=[{quoted}]']
    assert query(wine, name or "app") is None


def test_service_switch_by_hand_reports_the_dispatcher_failure(wine, tmp_path, display):
    exe = package(tmp_path, {"mainClass": "com.example.Main", "serviceName": "KvByHand"})
    run = wine.start(exe, MODE_SWITCH)
    # Wine's dispatcher gives up only after about 10 s.
    window = wait_window(wine, exe.name, close="ok", timeout_ms=30000)
    assert run.wait(15).exit_code == 0
    assert window is not None and window["caption"] == "Error"
    assert message_text(window).startswith("Internal error RC000003\n\nReason: "), message_text(window)


# ---------------------------------------------------------------- the running service

STOPS = [
    # label, scenario, settings, what the JVM's log must show after the stop
    ("stop arguments", ["wait-main halt now"], {"serviceStopArguments": "halt now"},
     ['main thread="main" args=["go", "fast"]', "main matched wait-main"]),
    ("System.exit", ["sleep 120000"], {"stopServiceWithExit": True},
     ['main thread="main" args=["go", "fast"]', "System.exit 0", "exit-hook 0"]),
]


@pytest.mark.parametrize("scenario,settings,logged", [row[1:] for row in STOPS], ids=[row[0] for row in STOPS])
def test_started_service_runs_main_and_stops_on_request(wine, service, scenario, settings, logged):
    s = service("KvStop", scenario, serviceStartArguments="go fast", **settings)
    mark = s.start()
    wait_state(wine, s.name, 4, 15)
    assert s.app.main_calls()[:1] == ['main thread="main" args=["go", "fast"]']
    s.stop()
    wait_state(wine, s.name, 1, 20)
    wait_gone(wine, s.exe)
    log = s.app.log
    positions = [log.index(line) for line in logged]
    assert positions == sorted(positions), log
    assert wine.events(mark) == [started(s.name), stopped(s.name)]
    status = query(wine, s.name)
    assert (status["WIN32_EXIT_CODE"], status["SERVICE_EXIT_CODE"]) == (0, 0)


def test_stop_request_the_application_ignores_times_out(wine, service):
    s = service("KvTimeout", ["sleep 120000"], serviceStopArguments="please")
    mark = s.start()
    wait_state(wine, s.name, 4, 15)
    s.stop()
    assert query(wine, s.name)["STATE"] == 3
    seconds = wait_state(wine, s.name, 1, 60)
    assert 28 <= seconds <= 45, seconds
    wait_gone(wine, s.exe)
    assert wine.events(mark) == [
        started(s.name),
        ("error", f"The {s.name} service has timed out during a stop request and will be terminated."),
        stopped(s.name)]


def test_service_ends_by_itself_when_the_applications_last_thread_ends(wine, service):
    s = service("KvThread", ["thread 4000 thread done"])
    mark = s.start()
    wait_state(wine, s.name, 4, 15)
    time.sleep(1.5)
    assert "main returned" in s.app.log
    assert query(wine, s.name)["STATE"] == 4, "stopped while the application's thread still ran"
    wait_state(wine, s.name, 1, 15)
    log = s.app.log
    assert log.index("thread-end") < log.index("DestroyJavaVM done")
    wait_gone(wine, s.exe)
    assert wine.events(mark) == [started(s.name), stopped(s.name)]


def test_service_whose_jvm_cannot_be_created_fails_to_start(wine, service):
    s = service("KvNoJvm", [], variant="fail_create")
    mark = s.start()
    wait_state(wine, s.name, 1, 15)
    wait_gone(wine, s.exe)
    events = wine.events(mark)
    assert [kind for kind, _ in events] == ["info", "error", "error"], events
    assert events[0] == started(s.name)
    assert events[1][1].startswith("Unable to create JVM instance using " + wine.windows_path(double_dll("fail_create")))
    assert events[2][1] == f"The {s.name} service failed to start."
    status = query(wine, s.name)
    assert (status["WIN32_EXIT_CODE"], status["SERVICE_EXIT_CODE"]) == (1066, 1013)
