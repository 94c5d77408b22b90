"""The test-double JVM keeps the JNI contract the launcher's tests rely on."""
from harness import paths


def test_the_double_behaves_as_the_jvm_does(wine):
    wine.run_gtest(paths.build_win64() / "tests" / "jvm_double" / "jvm_double_test.exe")
