"""Start-up cost of a launcher under Wine, against a do-nothing Windows program started the same way.

Reports, in one run:
  - the median wall time of a launcher whose (test-double) main returns at once, divided by the
    median of a program that only exits, both started by the same warm wineserver (goal <= 1.10);
  - the size of the x64 and x86 launcher templates (goal <= 64 KiB each);
  - the launcher's peak working set when JNI_CreateJavaVM is called, as the double records it.
Run with `make bench` (after `make`).
"""
import statistics
import sys
import tempfile
from pathlib import Path

from benchlib import timed

import harness  # noqa: E402
from double import MAIN, DoubleApp, double_dll  # noqa: E402
from fixtures import package  # noqa: E402

RUNS = 21


def main() -> int:
    wine = harness.session()
    try:
        with tempfile.TemporaryDirectory() as folder:
            # Timed: the double without its log, so that the figure is the launcher's, not the
            # double's (it flushes every log line). The logging one reports the working set.
            app = DoubleApp(wine, Path(folder), [], allowMultipleInstances=True)
            quiet = package(Path(folder), {"mainClass": MAIN, "jreSearchOrder": "0", "allowMultipleInstances": True,
                                           "jvmPathList": wine.windows_path(double_dll())}, "quiet.exe")
            # The baseline is of the launcher's kind: a windowed program that returns at once.
            noop = harness.paths.build_win64() / "tests" / "tools" / "noop_window.exe"
            for _ in range(3):  # warm the server, the disk cache and Wine's DLLs
                timed(wine, quiet)
                timed(wine, noop)
            launcher, baseline = [], []
            for _ in range(RUNS):  # interleaved, so that drift affects both alike
                launcher.append(timed(wine, quiet))
                baseline.append(timed(wine, noop))
            for _ in range(3):
                timed(wine, app.exe)
            peak = [int(line.split()[1]) for line in app.lines("working-set-peak")]
        ratio = statistics.median(launcher) / statistics.median(baseline)
        print(f"start-up: launcher median {statistics.median(launcher) * 1000:.1f} ms, "
              f"do-nothing windowed program median {statistics.median(baseline) * 1000:.1f} ms, "
              f"ratio {ratio:.3f} (goal <= 1.10), {RUNS} runs each")
        for arch in ("x64", "x86"):
            size = (harness.paths.dist() / "templates" / f"launcher-{arch}.exe").stat().st_size
            print(f"size: launcher-{arch}.exe {size} bytes = {size / 1024:.1f} KiB (goal <= 64 KiB)")
        if peak:
            print(f"peak working set at JNI_CreateJavaVM: {statistics.median(peak) / 1024:.0f} KiB "
                  f"(median of {len(peak)} launches)")
    finally:
        harness.close_session()
    return 0


if __name__ == "__main__":
    sys.exit(main())
