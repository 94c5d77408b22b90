"""A whole launch under Wine with the test-double JVM: what the JVM and main receive, how the
process ends, and how failures reach the user."""
import pytest

from double import DoubleApp, double_dll
from fixtures import make_jar, package
from tools import HeldMutex, control, message_text, wait_window


def test_options_class_path_properties_and_arguments_reach_the_jvm(wine, tmp_path):
    make_jar(tmp_path / "lib" / "a.jar")
    make_jar(tmp_path / "extra.jar")
    start = tmp_path / "start here"
    start.mkdir()
    app = DoubleApp(wine, tmp_path, ["thread 300 late line"], jvm_options="-Xmx256m -Dapp.flag=on",
                    classPath="lib;extra.jar")
    result = wine.run(app.exe, "one", "two words", cwd=start)
    assert result.exit_code == 0, app.log
    options = app.options()
    assert options[:3] == ["vfprintf", "abort", "exit"]
    assert "-Xmx256m" in options and "-Dapp.flag=on" in options
    assert options[-1] == "-Djava.class.path=lib;lib\\a.jar;extra.jar"
    props = app.properties()
    assert props["user.dir"] == wine.windows_path(start)
    assert props["korvane.exe.path"] == wine.windows_path(app.exe)
    assert props["korvane.csidl.appdata"].endswith("\\AppData\\Roaming")
    assert props["korvane.csidl.local.appdata"].endswith("\\AppData\\Local")
    assert app.main_calls() == ['main thread="main" args=["one", "two words"]']
    # The process ends only after the application's own thread has.
    log = app.log
    assert log.index("thread-end") < log.index("DestroyJavaVM done")


@pytest.mark.parametrize("arguments,expected", [
    ((), 'args=["from", "app options"]'),
    (("given",), 'args=["given"]'),
], ids=["appOptions without arguments", "arguments replace appOptions"])
def test_app_options_are_the_default_arguments(wine, tmp_path, arguments, expected):
    app = DoubleApp(wine, tmp_path, [], appOptions='from "app options"')
    assert wine.run(app.exe, *arguments).exit_code == 0
    assert app.main_calls()[0].endswith(expected)


def test_system_exit_code_becomes_the_exit_code(wine, tmp_path):
    app = DoubleApp(wine, tmp_path, ["exit 3"])
    assert wine.run(app.exe).exit_code == 3
    assert "exit-hook 3" in app.log


def test_log_files_receive_the_java_streams(wine, tmp_path):
    app = DoubleApp(wine, tmp_path, ["out to out", "err to err"], stdoutMode=1, stderrMode=1,
                    stdoutLogFile="out.log", stderrLogFile="err.log", useStartDirectory=False)
    (tmp_path / "out.log").write_text("stale\n")
    assert wine.run(app.exe, cwd=tmp_path).exit_code == 0
    assert (tmp_path / "out.log").read_bytes() == b"to out\r\n"
    assert (tmp_path / "err.log").read_bytes() == b"to err\r\n"


FAILURES = [
    ("missing main class", {"double_main": "com/example/Main", "mainClass": "com.example.Missing"}, [],
     "Error locating class: com/example/Missing"),
    ("abort", {}, ["abort"], "JVM has aborted due to an internal error."),
]


@pytest.mark.parametrize("label,settings,scenario,message", FAILURES, ids=[row[0] for row in FAILURES])
def test_failures_are_reported(wine, display, tmp_path, label, settings, scenario, message):
    app = DoubleApp(wine, tmp_path, scenario, **settings)
    launcher = wine.start(app.exe)
    window = wait_window(wine, "app.exe", close="ok")
    assert window and message_text(window) == message
    assert launcher.wait(30).exit_code != 0


def test_exception_out_of_main_shows_the_last_output_as_details(wine, display, tmp_path):
    app = DoubleApp(wine, tmp_path, ["out-repeat 200 100", "throw boom from main"], stdoutMode=2, stderrMode=2)
    launcher = wine.start(app.exe)
    window = wait_window(wine, "app.exe", class_="#32770", caption="Error")
    details = control(window, 1002)["text"]
    wait_window(wine, "app.exe", close="ok")
    assert launcher.wait(30).exit_code == 255
    assert control(window, 1001)["text"] == "Error invoking method: main(java/lang/String[])"
    assert "RuntimeException: boom from main" in details
    lines = details.split("\r\n")
    assert len(details) <= 8191
    # Whole lines only: the first kept line starts at a line number, and the output's end is there.
    assert lines[0][:6].isdigit() and lines[0].endswith(".")
    assert any(line.startswith("000199") for line in lines)


RUNTIME_FAILURES = [
    ("no runtime", {"jvmPathList": "C:\\nowhere\\jvm.dll"}, "No Java here."),
    ("not a library", {"jvmPathList": "@textfile"}, "Unable to load JVM: @textfile"),
    ("missing export", {"jvmPathList": "@no_default_args"}, "Unable to locate JNI interfaces in @no_default_args"),
]


@pytest.mark.parametrize("label,settings,message", RUNTIME_FAILURES, ids=[row[0] for row in RUNTIME_FAILURES])
def test_runtime_failures(wine, display, tmp_path, label, settings, message):
    text_file = tmp_path / "jvm.dll"
    text_file.write_text("not a library")
    replacements = {"@textfile": wine.windows_path(text_file),
                    "@no_default_args": wine.windows_path(double_dll("no_default_args"))}
    settings = {key: replacements.get(value, value) for key, value in settings.items()}
    for key, value in replacements.items():
        message = message.replace(key, value)
    exe = package(tmp_path, {"mainClass": "com.example.Main", "jreSearchOrder": "0",
                             "runtimeNotFoundMessage": "No Java here.", **settings})
    launcher = wine.start(exe)
    window = wait_window(wine, "app.exe", close="ok")
    assert window and message_text(window) == message
    assert launcher.wait(30).exit_code == 255


def test_unrecognised_option_shows_the_jvms_words(wine, display, tmp_path):
    app = DoubleApp(wine, tmp_path, [], jvm_options="-Xbogus", stderrMode=2)
    launcher = wine.start(app.exe)
    window = wait_window(wine, "app.exe", caption="Error", class_="#32770")
    assert control(window, 1001)["text"] == "Unable to create JVM instance using " + wine.windows_path(double_dll())
    assert "Unrecognized option: -Xbogus" in control(window, 1002)["text"]
    wait_window(wine, "app.exe", close="ok")
    assert launcher.wait(30).exit_code == 255


def test_a_running_launcher_refuses_a_second_one(wine, display, tmp_path):
    first = DoubleApp(wine, tmp_path, ["sleep 8000"], name="first.exe")
    second = DoubleApp(wine, tmp_path, [], name="second.exe")
    running = wine.start(first.exe)
    for _ in range(100):
        if "created" in first.log:
            break
        import time
        time.sleep(0.05)
    refused = wine.start(second.exe)
    window = wait_window(wine, "second.exe", close="ok")
    assert message_text(window) == "An instance of this program is already running."
    assert refused.wait(30).exit_code == 0
    assert "created" not in second.log
    running.kill()


def test_on_windows_9x_the_hidden_console_supplies_the_details(wine, display, tmp_path):
    # Wine reports Windows 98 to a program named in AppDefaults; the launcher then writes the
    # Java streams to a hidden console and reads its screen back for the report.
    app = DoubleApp(wine, tmp_path, ["out hello from the console", "throw boom"], name="nine.exe",
                    stdoutMode=2, stderrMode=2)
    key = r"HKCU\Software\Wine\AppDefaults\nine.exe"
    wine.reg_add(key, "Version", "REG_SZ", "win98")
    try:
        launcher = wine.start(app.exe)
        window = wait_window(wine, "nine.exe", caption="Error", class_="#32770")
        details = control(window, 1002)["text"]
        wait_window(wine, "nine.exe", close="ok")
        assert launcher.wait(30).exit_code == 255
    finally:
        wine.reg_delete(key)
    # Rows without their trailing blanks, joined by CR LF, none after the last.
    assert details.startswith("hello from the console\r\nException in thread \"main\" java.lang.RuntimeException: boom")
    assert not details.endswith("\r\n") and " \r\n" not in details


def test_a_non_ascii_argument_reaches_main_intact(wine, tmp_path):
    # Wine reads Linux arguments in the Linux locale; the launcher converts them from the ANSI
    # code page (UTF-8 under the launcher's manifest) to Java's UTF-16.
    app = DoubleApp(wine, tmp_path, [])
    result = wine.run(app.exe, "Zoë", "C:\\Users\\Zoë", env={"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
    assert result.exit_code == 0
    assert app.main_calls() == ['main thread="main" args=["Zoë", "C:\\\\Users\\\\Zoë"]']
