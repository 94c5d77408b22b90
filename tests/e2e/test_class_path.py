"""Class path assembly under Wine with real folders (cases in jvm/jvm_wintest.cpp)."""
import re

import pytest

import harness


def jvm_wintest():
    return harness.paths.build_win64() / "jvm" / "jvm_wintest.exe"


@pytest.mark.parametrize("case", [
    "ClassPathTest.FolderEntryIsFollowedByTheArchivesBelowIt",
    "ClassPathTest.EdgeCases",
])
def test_class_path(wine, case):
    harness.run_gtest(jvm_wintest(), f"--gtest_filter={case}")


def test_unlistable_folder_is_reported_once_as_rc000001(wine):
    # The test program reports in event-log mode; Wine prints each event on stderr with +eventlog.
    r = harness.run_gtest(jvm_wintest(), "--gtest_filter=ClassPathTest.UnlistableSubFolderFailsTheWholeAssembly",
                          env={"WINEDEBUG": "-all,+eventlog"})
    events = re.findall(r'(\w+):eventlog:ReportEventW L"(.*)"', r.stderr)
    assert len(events) == 1, r.stderr
    kind, text = events[0]
    assert kind == "err"
    assert text.startswith(r"Internal error RC000001\n\nReason: "), text
    assert list(wine.prefix.glob("drive_c/users/*/Temp/kvjvm*")) == []
