"""Start-up run modes and what the user sees: message boxes, the error dialog, event-log entries."""
import pytest

from fixtures import package
from tools import HeldMutex, control, message_icon, message_text, no_window, tool, wait_window

ALREADY_RUNNING = "An instance of this program is already running."


@pytest.fixture
def app(tmp_path):
    return package(tmp_path, {"mainClass": "com.example.Main"})


CLEANUP_SWITCHES = [
    ("exact switch and a process id", "-kvremovetemporaryjarfiles 1234", "clean-up"),
    ("switch in double quotes", '"-kvremovetemporaryjarfiles" 1234', "clean-up"),
    ("non-numeric process id", "-kvremovetemporaryjarfiles abc", "clean-up"),
    ("upper case", "-KVREMOVETEMPORARYJARFILES 1234", "launch"),
    ("one more word", "-kvremovetemporaryjarfiles 1234 more", "launch"),
    ("switch alone", "-kvremovetemporaryjarfiles", "launch"),
]


@pytest.mark.parametrize("label,command_line,mode", CLEANUP_SWITCHES, ids=[row[0] for row in CLEANUP_SWITCHES])
def test_cleanup_switch_is_recognised_exactly(wine, display, app, label, command_line, mode):
    # While another instance holds the mutex, a normal launch says so; clean-up mode reads no
    # settings and so shows nothing.
    mutex = HeldMutex(wine, "com/example/Main")
    launcher = wine.start(tool("run_raw"), wine.windows_path(app), command_line)
    if mode == "clean-up":
        assert no_window(wine, app.name)
    else:
        window = wait_window(wine, app.name, close="ok")
        assert window and message_text(window) == ALREADY_RUNNING
    assert launcher.wait(30).exit_code == 0
    mutex.release()


def test_second_instance_is_refused_unless_allowed(wine, display, tmp_path):
    single = package(tmp_path, {"mainClass": "com.example.Main"}, "single.exe")
    multiple = package(tmp_path, {"mainClass": "com.example.Main", "allowMultipleInstances": True,
                                  "runtimeNotFoundMessage": "No runtime here."}, "multiple.exe")
    mutex = HeldMutex(wine, "com/example/Main")
    refused = wine.start(single)
    window = wait_window(wine, "single.exe", close="ok")
    assert window["caption"] == "Error" and message_text(window) == ALREADY_RUNNING
    assert message_icon(window) == "error"
    assert refused.wait(30).exit_code == 0
    # With allowMultipleInstances the launch goes past the mutex, to the runtime search.
    allowed = wine.start(multiple)
    window = wait_window(wine, "multiple.exe", close="ok")
    assert message_text(window) == "No runtime here."
    assert allowed.wait(30).exit_code == 255
    mutex.release()


MESSAGE_BOXES = [
    ("information", ["info", "Service installed: %s", "MyService"], "Information", "information",
     "Service installed: MyService"),
    ("argument holding format characters", ["error", "Error accessing file/directory: %s", "C:\\a %s b %d"], "Error",
     "error", "Error accessing file/directory: C:\\a %s b %d"),
    ("stray percent shown as written", ["error", "Disk 100% full"], "Error", "error", "Disk 100% full"),
    ("%s without an argument shown as written", ["error", "Already running: %s"], "Error", "error",
     "Already running: %s"),
    ("percent sign", ["error", "Done 100%%"], "Error", "error", "Done 100%"),
]


@pytest.mark.parametrize("label,args,caption,icon,text", MESSAGE_BOXES, ids=[row[0] for row in MESSAGE_BOXES])
def test_message_box_as_a_user_sees_it(wine, display, label, args, caption, icon, text):
    demo = wine.start(tool("report_demo"), *args)
    window = wait_window(wine, "report_demo.exe", close="ok")
    assert window is not None
    assert (window["caption"], message_icon(window), message_text(window)) == (caption, icon, text)
    assert demo.wait(30).exit_code == 0


def test_error_with_reason_appends_the_system_text(wine, display):
    demo = wine.start(tool("report_demo"), "reason", "5", "Internal error RC000001")
    window = wait_window(wine, "report_demo.exe", close="ok")
    text = message_text(window)
    assert text.startswith("Internal error RC000001\n\nReason: ") and len(text) > len("Internal error RC000001") + 12
    assert demo.wait(30).exit_code == 0


@pytest.mark.parametrize("close", ["ok", "esc", "closebox"])
def test_error_dialog(wine, display, screenshot, close):
    message = ("Error invoking method: C:\\Program Files\\A Rather Long Application Folder\\lib\\"
               "some-library-with-a-long-name-1.2.3.jar\\main(java/lang/String[])")
    demo = wine.start(tool("report_demo"), "details", "@40", "%s", message)
    window = wait_window(wine, "report_demo.exe")
    assert window["caption"] == "Error" and window["class"] == "#32770"
    left, top, right, bottom = window["rect"]
    width, height = right - left, bottom - top
    assert (left, top) == ((window["screen"][0] - width) // 2, (window["screen"][1] - height) // 2)
    assert window["foreground"]
    assert control(window, 1000)["icon"] == "error"
    assert control(window, 1001)["visible"] is False  # only marks where the message is painted
    assert control(window, 1001)["text"] == message
    details = control(window, 1002)
    assert details["readonly"] and details["hscroll"] and details["vscroll"]
    assert details["text"].startswith("line 1 of the details") and details["text"].count("\r\n") == 40
    assert control(window, -1)["text"] == "Details:"
    if close == "ok":
        screenshot("error-dialog")
    wait_window(wine, "report_demo.exe", close=close)
    result = demo.wait(30)
    assert result.exit_code == 0
    assert "dialog-window-after=0000000000000000" in result.stdout


EVENTS = [
    ("information", ["info", "The %s service has started.", "Svc"], 'trace:eventlog:ReportEventW L"The Svc service has started."'),
    ("error taken literally", ["error", "Disk 100% full"], 'err:eventlog:ReportEventW L"Disk 100% full"'),
    ("details in one event", ["details", "line1\r\nline2", "Error invoking method: %s", "main"],
     'err:eventlog:ReportEventW L"Error invoking method: main\\n\\nDetails:\\nline1\\r\\nline2"'),
]


@pytest.mark.parametrize("label,args,expected", EVENTS, ids=[row[0] for row in EVENTS])
def test_service_messages_become_events(wine, label, args, expected):
    result = wine.run(tool("report_demo"), "--service", "KorvaneTest", *args, env={"WINEDEBUG": "-all,+eventlog"})
    assert result.exit_code == 0
    assert expected in result.stderr
    assert result.stderr.count("eventlog:ReportEventW") == 1
