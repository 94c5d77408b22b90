"""What the benchmarks share: the end-to-end harness on the path, and a timed run."""
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))


def timed(wine, exe, *args, timeout: float = 300) -> float:
    """Wall time of one run of a program that must succeed."""
    start = time.perf_counter()
    result = wine.run(exe, *args, timeout=timeout)
    elapsed = time.perf_counter() - start
    assert result.exit_code == 0, result
    return elapsed
