"""Launchers that run the test-double JVM (tests/jvm_double): package one with a scenario, read the log."""
import re
from pathlib import Path

from fixtures import package
from harness import paths

MAIN = "com.example.Main"


def double_dll(variant: str = "normal") -> Path:
    return paths.build_win64() / "tests" / "jvm_double" / variant / "jvm.dll"


def unescape(text: str) -> str:
    """Undoes the C-style escapes of the double's log."""
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


class DoubleApp:
    """A packaged launcher whose JVM is the test double, with its scenario and log in `folder`."""

    def __init__(self, wine, folder: Path, scenario: list[str], name: str = "app.exe", variant: str = "normal",
                 jvm_options: str = "", **settings):
        self.folder = folder
        self.log_path = folder / (Path(name).stem + "-jvm.log")
        scenario_path = folder / (Path(name).stem + "-scenario.txt")
        scenario_path.write_text("\n".join(scenario) + "\n", encoding="utf-8")
        self.log_path.unlink(missing_ok=True)
        options = (f'"-Dkorvane.double.log={wine.windows_path(self.log_path)}" '
                   f'"-Dkorvane.double.scenario={wine.windows_path(scenario_path)}" '
                   f'-Dkorvane.double.main={settings.pop("double_main", MAIN.replace(".", "/"))} {jvm_options}').strip()
        values = {"mainClass": MAIN, "jreSearchOrder": "0", "jvmPathList": wine.windows_path(double_dll(variant)),
                  "jvmOptions": options}
        values.update(settings)
        self.exe = package(folder, values, name)

    @property
    def log(self) -> str:
        return self.log_path.read_text(encoding="utf-8") if self.log_path.exists() else ""

    def lines(self, prefix: str) -> list[str]:
        return [line for line in self.log.splitlines() if line.startswith(prefix)]

    def options(self) -> list[str]:
        return [unescape(re.match(r'option "(.*)" extraInfo=(yes|no)', line).group(1)) for line in self.lines("option ")]

    def properties(self) -> dict[str, str]:
        return dict(line[len("property "):].split("=", 1) for line in self.lines("property "))

    def main_calls(self) -> list[str]:
        return self.lines("main thread=")
