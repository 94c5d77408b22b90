"""Run a cross-compiled GoogleTest program under Wine as part of a pytest test."""
import re
from pathlib import Path
from typing import Dict, Optional

import pytest

from . import session as _session
from .wine import PathLike, RunResult

_PASSED = re.compile(r"^\[  PASSED  \] (\d+) tests?\.", re.M)


def run_gtest(exe_path: PathLike, *args: PathLike, env: Optional[Dict[str, Optional[str]]] = None,
              timeout: float = 120, session=None) -> RunResult:
    """Run the GoogleTest program EXE_PATH under Wine. The calling test fails (pytest.fail, with the
    program's whole output) when the program times out, exits non-zero, prints no "[  PASSED  ]"
    line, or ran no test at all (a --gtest_filter that matches nothing)."""
    exe = Path(exe_path)
    args = tuple(map(str, args))
    if not exe.is_file():
        pytest.fail(f"{exe} is missing: build it in the win64 build folder "
                    f"(cmake --build <build-win64> --target {exe.stem})", pytrace=False)
    r = (session or _session()).run(exe, *args, env={"GTEST_COLOR": "no", **(env or {})}, timeout=timeout)
    problems = []
    if r.timed_out:
        problems.append(f"timed out after {timeout} s")
    elif r.exit_code != 0:
        problems.append(f"exit code {r.exit_code}")
    passed = _PASSED.search(r.stdout)
    if passed is None:
        problems.append('no "[  PASSED  ]" line')
    elif int(passed.group(1)) == 0:
        problems.append("no test ran")
    if problems:
        pytest.fail(f"{exe.name} {' '.join(args)}: {'; '.join(problems)}\n"
                    f"--- stdout ---\n{r.stdout}--- stderr ---\n{r.stderr}", pytrace=False)
    return r
