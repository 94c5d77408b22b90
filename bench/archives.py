"""Cost of the embedded archives under Wine, for a launcher carrying 200 MB of jars.

Reports, in one run and with one warm wineserver:
  - first start (extraction folder absent, so every archive is written) divided by copying the same
    jars to the same disk with a Windows program (cmd's copy), both one Wine process (goal <= 1.25);
  - repeated start (every archive up to date) divided by the start of the same application packaged
    without archives (goal <= 1.05).
A third line splits the repeated start: the archive step's own share, and the rest.
The JVM is the test double with a main that returns at once: the launcher goes through its whole
start-up, so what differs between the two launchers is only the archive step.
Run with `make bench-archives` (after `make`).
"""
import os
import shutil
import statistics
import sys
import tempfile
from pathlib import Path

from benchlib import timed

import harness  # noqa: E402
from double import DoubleApp  # noqa: E402

RUNS = 7
JARS = 4
JAR_BYTES = 50 * 1024 * 1024


def main() -> int:
    wine = harness.session()
    try:
        with tempfile.TemporaryDirectory(dir=harness.paths.REPO_ROOT / "build") as name:
            folder = Path(name)
            sources = folder / "jars"
            sources.mkdir()
            for i in range(JARS):  # incompressible, so the disk sees every byte
                (sources / f"lib{i}.jar").write_bytes(os.urandom(JAR_BYTES))
            (folder / "with").mkdir()
            (folder / "without").mkdir()
            common = dict(allowMultipleInstances=True, extractionMode=1, removeTemporaryArchives=False)
            carrying = DoubleApp(wine, folder / "with", [], archives=[str(p) for p in sorted(sources.iterdir())],
                                 **common)
            plain = DoubleApp(wine, folder / "without", [], **common)
            copies = folder / "copies"

            def first_start() -> float:
                for p in carrying.folder.iterdir():
                    if p.is_dir():
                        shutil.rmtree(p)
                return timed(wine, carrying.exe)

            def copy() -> float:
                shutil.rmtree(copies, ignore_errors=True)
                copies.mkdir()
                return timed(wine, "cmd", "/c", "copy", "/b", "/y", wine.windows_path(sources) + "\\*.jar",
                             wine.windows_path(copies))

            for _ in range(2):  # warm the server, the disk cache and Wine's DLLs
                first_start(), copy(), timed(wine, carrying.exe), timed(wine, plain.exe)
            extracted = next(p for p in carrying.folder.iterdir() if p.is_dir())
            assert sum(p.stat().st_size for p in extracted.iterdir()) == JARS * JAR_BYTES
            assert sum(p.stat().st_size for p in copies.iterdir()) == JARS * JAR_BYTES

            firsts, copied, repeated, without, skipped = [], [], [], [], []
            for _ in range(RUNS):  # interleaved, so that drift affects both sides alike
                firsts.append(first_start())
                copied.append(copy())
            for _ in range(RUNS * 3):
                repeated.append(timed(wine, carrying.exe))
                without.append(timed(wine, plain.exe))
                skipped.append(timed(wine, carrying.exe, "-install"))
        mb = JARS * JAR_BYTES / 1e6
        first_ratio = statistics.median(firsts) / statistics.median(copied)
        repeat_ratio = statistics.median(repeated) / statistics.median(without)
        print(f"first start with {mb:.0f} MB of jars: median {statistics.median(firsts) * 1000:.0f} ms; "
              f"copying them with cmd's copy: median {statistics.median(copied) * 1000:.0f} ms; "
              f"ratio {first_ratio:.3f} (goal <= 1.25), {RUNS} runs each")
        print(f"repeated start: median {statistics.median(repeated) * 1000:.1f} ms; same application without "
              f"archives: median {statistics.median(without) * 1000:.1f} ms; ratio {repeat_ratio:.3f} "
              f"(goal <= 1.05), {RUNS * 3} runs each")
        # "-install" with no service name skips only the archive step: what remains is the cost of
        # loading the bigger image.
        print(f"  the same launcher with the archive step skipped (-install): median "
              f"{statistics.median(skipped) * 1000:.1f} ms; archive step alone: ratio "
              f"{statistics.median(repeated) / statistics.median(skipped):.3f}")
    finally:
        harness.close_session()
    return 0


if __name__ == "__main__":
    sys.exit(main())
