"""A packaged launcher read back through the Windows API, and the launcher's own settings code."""
import re
import subprocess
from pathlib import Path

from fixtures import make_bmp, make_jar, write_config
from test_pack import FULL_SETTINGS, PACK, REPO

LONG_CLASS_PATH = ";".join(f"lib{i:03d}\\" + "x" * 20 + ".jar" for i in range(110))[:3000]
SETTING_IDS = {name: int(number) for number, name in
               re.findall(r"X\((\d+), (\w+),", (REPO / "launcher/settings_table.h").read_text())}


def scramble(plain: str) -> str:
    """The stored form of the main class, computed independently of the C++ code."""
    key = re.search(r'scrambleKey\[17\] = "(\w{16})"', (REPO / "launcher/settings_codec.h").read_text()).group(1)
    cycle = key.encode() + b"\0"
    return "".join(f"{b ^ cycle[i % 17]:02X}" for i, b in enumerate(plain.encode()))


def stored_text(key: str, written, shown) -> str:
    if key == "mainClass":
        return scramble(written)
    value = written if shown is None else shown
    if isinstance(value, bool):
        return "1" if value else "0"
    return str(value)


def test_windows_reads_what_the_packaging_tool_wrote(tmp_path, wine):
    make_jar(tmp_path / "archives" / "app.jar", mtime=1700000000.25)
    make_jar(tmp_path / "archives" / "lib.jar", entries=50, mtime=1600000000)
    make_bmp(tmp_path / "splash.bmp", 77, 33)
    values = {key: written for key, (written, _) in FULL_SETTINGS.items()}
    values.update(classPath=LONG_CLASS_PATH, archives=["archives/app.jar", "archives/lib.jar"],
                  splashBitmap="splash.bmp")
    config = write_config(tmp_path / "app.toml", values)
    result = subprocess.run([str(PACK), "build", str(config), "-o", str(tmp_path / "launcher.exe")],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr

    expected = {SETTING_IDS[key]: stored_text(key, written, shown) for key, (written, shown) in FULL_SETTINGS.items()}
    expected[SETTING_IDS["classPath"]] = LONG_CLASS_PATH
    assert len(expected) == len(SETTING_IDS)
    # LoadStringA converts to the ANSI code page: keep this file to what every code page holds.
    lines = [f"{number}\t{text}" for number, text in expected.items() if text.isascii()]
    (tmp_path / "expected.txt").write_text("\n".join(lines) + "\nsplash\t77\t33\n", encoding="ascii")
    (tmp_path / "archives.txt").write_text("app.jar\nlib.jar\n")
    wine.run_gtest(wine.build_win64 / "launcher" / "settings_wintest.exe", wine.windows_path(tmp_path))


def test_the_windows_packaging_tool_writes_the_same_bytes(tmp_path, wine):
    make_jar(tmp_path / "app.jar", mtime=1700000000)
    make_bmp(tmp_path / "splash.bmp")
    config = write_config(tmp_path / "app.toml", {"mainClass": "com.example.Main", "archives": ["app.jar"],
                                                  "splashBitmap": "splash.bmp", "productName": "Same"})
    linux = subprocess.run([str(PACK), "build", str(config), "-o", str(tmp_path / "linux.exe")], capture_output=True,
                           text=True)
    assert linux.returncode == 0, linux.stderr
    windows = wine.run(PACK.parent / "korvane-pack.exe", "build", wine.windows_path(config), "-o",
                       wine.windows_path(tmp_path / "windows.exe"), "--arch", "x64")
    assert windows.exit_code == 0, windows.stderr
    assert (tmp_path / "windows.exe").read_bytes() == (tmp_path / "linux.exe").read_bytes()
