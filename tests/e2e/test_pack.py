"""korvane-pack on Linux: what it writes, what inspect reads back, and how it refuses bad input."""
import json
import os
import subprocess
from pathlib import Path

import pytest

from fixtures import filetime, make_bmp, make_ico, make_jar, write_config

REPO = Path(__file__).resolve().parents[2]
DIST = Path(os.environ.get("KORVANE_DIST", REPO / "dist"))
PACK = DIST / "korvane-pack"


def pack(*args, cwd=None):
    return subprocess.run([str(PACK), *map(str, args)], capture_output=True, text=True, cwd=cwd, timeout=60)


def inspect_json(exe: Path) -> dict:
    result = pack("inspect", exe, "--json")
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


# Every setting with a value unlike its typical one, as a config writes it, and as inspect shows it.
FULL_SETTINGS = {
    "minJavaVersion": ("1.8", "0x00010008"),
    "jvmPathList": (["jre\\bin\\server\\jvm.dll", "C:\\jdk\\bin\\server\\jvm.dll"],
                    "jre\\bin\\server\\jvm.dll;C:\\jdk\\bin\\server\\jvm.dll"),
    "jvmOptions": ("-Xmx512m \"-Dname=a b\" -Dx=%APPDATA%", None),
    "classPath": (["lib", "conf"], "lib;conf"),
    "removeTemporaryArchives": (False, None),
    "extractionMode": (1, None),
    "jreSearchOrder": ("310", None),
    "installSwitch": ("/install", None),
    "uninstallSwitch": ("/uninstall", None),
    "serviceModeSwitch": ("-run-as-service", None),
    "workingDirectory": ("C:\\work dir", None),
    "mainClass": ("org.example.app.Main$Inner", None),
    "appOptions": ("one \"two three\"", None),
    "iniFileName": ("app.ini", None),
    "useStartDirectory": (False, None),
    "workingDirectoryFirst": (True, None),
    "serviceName": ("HelloService", None),
    "serviceDescription": ("Says hello — all day", None),
    "serviceStartArguments": ("start now", None),
    "serviceStopArguments": ("stop", None),
    "stopServiceWithExit": (True, None),
    "serviceManualStart": (True, None),
    "serviceInteractive": (True, None),
    "allowMultipleInstances": (True, None),
    "stdoutMode": (1, None),
    "stderrMode": (2, None),
    "stdoutLogFile": ("out.log", None),
    "stderrLogFile": ("err.log", None),
    "splashTitle": ("Starting…", None),
    "splashUntilWindow": (False, None),
    "splashSeconds": (5, None),
    "priorityIndex": (4, None),
    "serviceDependencies": (["Tcpip", "Dnscache"], "Tcpip;Dnscache"),
    "alreadyRunningMessage": ("Already running (100%% sure).", None),
    "fileAccessMessage": ("Cannot open %s", None),
    "fileWriteMessage": ("Cannot write %s", None),
    "runtimeNotFoundMessage": ("No Java here.", None),
    "jvmLoadMessage": ("Cannot load %s", None),
    "jniInterfacesMessage": ("No JNI in %s", None),
    "jvmCreateMessage": ("No JVM from %s", None),
    "attachThreadMessage": ("Cannot attach.", None),
    "classNotFoundMessage": ("No class %s", None),
    "methodNotFoundMessage": ("No method %s", None),
    "instantiateMessage": ("No object %s", None),
    "stringArgumentMessage": ("No string %s", None),
    "invokeMessage": ("Failed %s", None),
    "serviceInstalledMessage": ("Installed %s", None),
    "serviceUninstalledMessage": ("Removed %s", None),
    "serviceAlreadyInstalledMessage": ("Exists %s", None),
    "serviceStartedMessage": ("Started %s", None),
    "serviceStoppedMessage": ("Stopped %s", None),
    "serviceFailedMessage": ("Failed %s", None),
    "serviceStopTimeoutMessage": ("Timed out %s", None),
    "maxJavaVersion": ("21", "0x00150000"),
}


@pytest.fixture
def app(tmp_path):
    """A small application: two jars, a splash bitmap and an icon."""
    make_jar(tmp_path / "jars" / "app.jar", mtime=1700000000.5)
    make_jar(tmp_path / "jars" / "lib-1.0.jar", entries=20, mtime=1600000000)
    make_bmp(tmp_path / "splash.bmp", 120, 45)
    make_ico(tmp_path / "app.ico")
    return tmp_path


def test_inspect_returns_every_value_of_the_config(app):
    values = {key: written for key, (written, _) in FULL_SETTINGS.items()}
    values.update(archives=["jars/app.jar", "jars/lib-1.0.jar"], splashBitmap="splash.bmp", icon="app.ico",
                  productName="Hello", fileVersion="1.2.3.4", companyName="Example", copyright="(c) Example",
                  fileDescription="Hello app")
    config = write_config(app / "app.toml", values)
    result = pack("build", config, "-o", app / "app.exe")
    assert result.returncode == 0, result.stderr
    shown = inspect_json(app / "app.exe")

    for key, (written, stored) in FULL_SETTINGS.items():
        assert shown[key] == (written if stored is None else stored), key
    assert shown["archives"] == [
        {"name": "\\app.jar", "size": (app / "jars/app.jar").stat().st_size, "time": filetime(app / "jars/app.jar")},
        {"name": "\\lib-1.0.jar", "size": (app / "jars/lib-1.0.jar").stat().st_size,
         "time": filetime(app / "jars/lib-1.0.jar")},
    ]
    assert shown["splashBitmap"] == {"width": 120, "height": 45}
    assert shown["icon"] is True
    assert shown["version"]["ProductName"] == "Hello"
    assert shown["version"]["FileVersion"] == "1.2.3.4"
    assert shown["version"]["LegalCopyright"] == "(c) Example"
    assert shown["machine"] == "x64"


def test_settings_left_out_take_their_typical_values(tmp_path):
    make_jar(tmp_path / "app.jar")
    result = pack("build", "--main-class", "com.example.Main", "--jar", tmp_path / "app.jar", "-o", tmp_path / "a.exe",
                  "--arch", "x86")
    assert result.returncode == 0, result.stderr
    shown = inspect_json(tmp_path / "a.exe")
    assert shown["machine"] == "x86"
    assert shown["mainClass"] == "com.example.Main"
    assert shown["jreSearchOrder"] == "012345678"
    assert shown["maxJavaVersion"] == ""
    assert shown["removeTemporaryArchives"] is True and shown["extractionMode"] == 2
    assert shown["serviceModeSwitch"] == "-startlauncherinservicemode"
    assert shown["runtimeNotFoundMessage"].startswith("Unable to locate Java Runtime Environment 1.5 on this machine.")
    assert shown["archives"][0]["name"] == "\\app.jar"
    assert shown["splashBitmap"] is None and shown["version"] is None


def test_the_same_inputs_give_the_same_bytes(app):
    config = write_config(app / "app.toml", {"mainClass": "a.B", "archives": ["jars/app.jar"],
                                             "splashBitmap": "splash.bmp", "productName": "P"})
    assert pack("build", config, "-o", app / "one.exe").returncode == 0
    assert pack("build", config, "-o", app / "two.exe").returncode == 0
    assert (app / "one.exe").read_bytes() == (app / "two.exe").read_bytes()


def test_a_packaged_launcher_can_serve_as_template(app):
    first = write_config(app / "first.toml", {"mainClass": "a.First", "archives": ["jars/app.jar"]})
    second = write_config(app / "second.toml", {"mainClass": "b.Second", "appOptions": "x"})
    assert pack("build", first, "-o", app / "first.exe").returncode == 0
    result = pack("build", second, "-o", app / "second.exe", "--template", app / "first.exe")
    assert result.returncode == 0, result.stderr
    shown = inspect_json(app / "second.exe")
    assert shown["mainClass"] == "b.Second" and shown["appOptions"] == "x"
    assert len(shown["archives"]) == 1  # resources of the template are kept


BAD_INPUT = [
    ("missing jar", {"mainClass": "a.B", "archives": ["nowhere.jar"]}, "archive", "nowhere.jar"),
    ("splash not a bitmap", {"mainClass": "a.B", "splashBitmap": "app.toml"}, "splash bitmap", "not a BMP file"),
    ("not a class name", {"mainClass": "1com.Main"}, "mainClass", "not a Java class name"),
    ("unknown key", {"mainClass": "a.B", "jvmOption": "-Xmx1g"}, "unknown key \"jvmOption\"", "did you mean \"jvmOptions\""),
    ("wrong type", {"mainClass": "a.B", "stdoutMode": "1"}, "stdoutMode", "expected an integer"),
    ("stray percent in a message", {"mainClass": "a.B", "alreadyRunningMessage": "Disk 100% full"},
     "alreadyRunningMessage", "write \"%%\""),
    ("duplicate archive names", {"mainClass": "a.B", "archives": ["jars/app.jar", "other/APP.jar"]}, "two archives",
     "APP.jar"),
    ("no main class", {"appOptions": "x"}, "no main class", ""),
    ("bad version number", {"mainClass": "a.B", "fileVersion": "1.x"}, "fileVersion", "not a version number"),
]


@pytest.mark.parametrize("label,values,first,second", BAD_INPUT, ids=[row[0] for row in BAD_INPUT])
def test_bad_input_gets_one_line_and_no_output(app, label, values, first, second):
    make_jar(app / "other" / "APP.jar")
    config = write_config(app / "app.toml", values)
    existing = app / "existing.exe"
    existing.write_bytes(b"keep me")
    for target in (app / "new.exe", existing):
        result = pack("build", config, "-o", target)
        assert result.returncode != 0
        lines = result.stderr.strip().splitlines()
        assert len(lines) == 1 and lines[0].startswith("korvane-pack: "), result.stderr
        assert first in lines[0] and second in lines[0], lines[0]
    assert not (app / "new.exe").exists()
    assert existing.read_bytes() == b"keep me"
    assert not list(app.glob("*.tmp"))


@pytest.mark.parametrize("content", [b"", b"MZ" + bytes(100), b"plain text\n"], ids=["empty", "broken-pe", "text"])
def test_inspect_refuses_what_is_not_a_launcher(tmp_path, content):
    target = tmp_path / "x.exe"
    target.write_bytes(content)
    result = pack("inspect", target)
    assert result.returncode != 0
    assert len(result.stderr.strip().splitlines()) == 1 and "not a" in result.stderr


def test_inspect_refuses_a_windows_program_that_is_not_a_launcher(tmp_path):
    # The template of another program: any PE without the launcher's resources. The packaging
    # tool for Windows is one.
    result = pack("inspect", DIST / "korvane-pack.exe")
    assert result.returncode != 0 and "not a Korvane launcher" in result.stderr
