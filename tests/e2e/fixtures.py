"""Small input files for packaging tests, made on the fly: jars, bitmaps, icons, configs."""
import os
import struct
import zipfile
from pathlib import Path


def make_jar(path: Path, entries: int = 3, mtime: float | None = None) -> Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w") as jar:
        jar.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n")
        for i in range(entries):
            jar.writestr(f"com/example/C{i}.class", bytes(range(256)) * (i + 1))
    if mtime is not None:
        os.utime(path, (mtime, mtime))
    return path


def make_bmp(path: Path, width: int = 64, height: int = 32, bpp: int = 24) -> Path:
    stride = ((width * bpp + 31) // 32) * 4
    pixels = bytes((x * 7 + y) & 0xFF for y in range(height) for x in range(stride))
    palette = b"".join(struct.pack("<BBBB", i, i, i, 0) for i in range(1 << bpp)) if bpp <= 8 else b""
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    path.write_bytes(header + info + palette + pixels)
    return path


def make_ico(path: Path, size: int = 16) -> Path:
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    image = info + bytes([0x40, 0x80, 0xC0, 0xFF]) * size * size + bytes(((size + 31) // 32) * 4 * size)
    header = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 22)
    path.write_bytes(header + image)
    return path


def toml_value(value) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, list):
        return "[" + ", ".join(toml_value(v) for v in value) + "]"
    return '"' + str(value).replace("\\", "\\\\").replace('"', '\\"') + '"'


def write_config(path: Path, values: dict) -> Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("".join(f"{key} = {toml_value(value)}\n" for key, value in values.items()), encoding="utf-8")
    return path


def filetime(path: Path) -> int:
    """A file's last-write time as a Windows FILETIME."""
    ns = path.stat().st_mtime_ns
    return (ns // 100) + 116444736000000000


def package(folder: Path, values: dict, name: str = "app.exe", arch: str = "x64") -> Path:
    """Packages a launcher with korvane-pack from a config of the given values."""
    import subprocess
    from harness import paths

    config = write_config(folder / (Path(name).stem + ".toml"), values)
    target = folder / name
    result = subprocess.run([str(paths.dist() / "korvane-pack"), "build", str(config), "-o", str(target), "--arch", arch],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    return target
