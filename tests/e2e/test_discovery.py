"""Runtime discovery under Wine: the registry search, the jvmPathList entries and the file test.

The cases live in the GoogleTest program jvm_wintest (jvm/jvm_wintest.cpp), which writes the registry
keys and lays out the folders each case needs and removes them again; these tests run it in the
session's prefix and check that it left nothing behind.
"""
import pytest

import harness


def jvm_wintest():
    return harness.paths.build_win64() / "jvm" / "jvm_wintest.exe"


RUNTIME_VENDOR_KEYS = [r"HKLM\Software\JavaSoft", r"HKLM\Software\IBM", r"HKLM\Software\JRockit",
                       r"HKLM\Software\Eclipse Adoptium", r"HKLM\Software\Azul Systems"]


@pytest.mark.parametrize("case", [
    "DiscoveryTest.SearchOrderSelectsStrategies",
    "DiscoveryTest.CurrentVersionFirstThenSubkeysByEnumeration",
    "DiscoveryTest.LibraryBelowJavaHomeByStrategy",
    "DiscoveryTest.RuntimeLibNamingMissingFileIsRejected",
    "DiscoveryTest.PathListEntries",
    "DiscoveryTest.FolderNeverCounts",
    "DiscoveryTest.OverlongValuesAndCandidatesAreNotTried",
    "NewerStrategiesTest.NewestQualifyingRuntimeOfTheSourceWins",
    "NewerStrategiesTest.OtherMachineTypeIsPassedOverByEveryStrategy",
    "ReadRegistryText.ThreeResults",
])
def test_discovery(wine, case):
    harness.run_gtest(jvm_wintest(), f"--gtest_filter={case}")


def test_discovery_leaves_no_registry_keys_or_folders(wine):
    harness.run_gtest(jvm_wintest(), "--gtest_filter=DiscoveryTest.*:NewerStrategiesTest.*:ReadRegistryText.*")
    left = [key for key in RUNTIME_VENDOR_KEYS + [r"HKCU\Software\Korvane\JvmWinTest"] if harness.reg_delete(key)]
    assert left == []
    assert list(wine.prefix.glob("drive_c/users/*/Temp/kvjvm*")) == []
