"""Finding today's Java runtimes under Wine: the search strategies 5 to 8, the maximum version, the
machine-type check and Unicode paths, each through a packaged x64 launcher whose runtime is the test
double copied into fake runtime homes.

Each fake home is <home>\\bin\\server\\jvm.dll (the double) and a release file naming its version. The
launcher's options carry -Dfound.home=%JAVA_HOME%, which the launcher fills with the home of the
runtime discovery chose, so the double's log shows which runtime ran.
"""
import shutil
from pathlib import Path

import pytest

from double import DoubleApp, double_dll
from harness import paths

NEW_ORDER = "012345678"  # korvane-pack's default
OLD_ORDER = "01234"
PROGRAM_FILES_VENDOR = "Eclipse Adoptium"
VENDOR_KEYS = [r"HKLM\Software\JavaSoft\JDK", r"HKLM\Software\JavaSoft\JRE", r"HKLM\Software\Eclipse Adoptium",
               r"HKLM\Software\Azul Systems"]


def make_home(folder: Path, version: str, library: Path | None = None) -> Path:
    server = folder / "bin" / "server"
    server.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(library or double_dll(), server / "jvm.dll")
    (folder / "release").write_text(f'IMPLEMENTOR="Test"\nJAVA_VERSION="{version}"\n')
    return folder


@pytest.fixture
def machine(wine):
    """A machine without any runtime; what a test installs is removed afterwards."""
    program_files = wine.prefix / "drive_c" / "Program Files" / PROGRAM_FILES_VENDOR

    def clean():
        for key in VENDOR_KEYS:
            wine.reg_delete(key)
        shutil.rmtree(program_files, ignore_errors=True)

    clean()
    yield program_files
    clean()


def install(wine, tmp_path, program_files, source: str, version: str, library: Path | None = None) -> tuple[Path, dict]:
    """Installs a fake runtime the way `source` leaves it; returns its home and the environment to run with."""
    if source == "install folder":
        home = make_home(program_files / f"jdk-{version}-hotspot", version, library)
        return home, {}
    home = make_home(tmp_path / "runtimes" / version, version, library)
    windows_home = wine.windows_path(home)
    if source == "JavaSoft JDK key":
        wine.reg_add(rf"HKLM\Software\JavaSoft\JDK\{version}", "JavaHome", value=windows_home)
    elif source == "Adoptium key":
        wine.reg_add(rf"HKLM\Software\Eclipse Adoptium\JDK\{version}\hotspot\MSI", "Path", value=windows_home + "\\")
    elif source == "Zulu key":
        wine.reg_add(rf"HKLM\Software\Azul Systems\Zulu\zulu-{version.split('.')[0]}", "InstallationPath",
                     value=windows_home)
    elif source == "JAVA_HOME":
        return home, {"JAVA_HOME": windows_home}
    return home, {}


def launch(wine, tmp_path, env=None, **settings):
    settings = {"jvmPathList": "", "runtimeNotFoundMessage": "No Java here.", **settings}
    app = DoubleApp(wine, tmp_path, [], jvm_options='"-Dfound.home=%JAVA_HOME%"', **settings)
    result = wine.run(app.exe, env=env)
    return app, result


def found_home(app) -> str | None:
    homes = [option.split("=", 1)[1] for option in app.options() if option.startswith("-Dfound.home=")]
    return homes[0] if homes else None


SOURCES = ["JavaSoft JDK key", "Adoptium key", "Zulu key", "JAVA_HOME", "install folder"]


@pytest.mark.parametrize("source", SOURCES)
@pytest.mark.parametrize("order,found", [(NEW_ORDER, True), (OLD_ORDER, False)], ids=["new digits", "old digits"])
def test_a_machine_with_one_modern_runtime(wine, tmp_path, machine, source, order, found):
    home, env = install(wine, tmp_path, machine, source, "17.0.9")
    app, result = launch(wine, tmp_path, env, jreSearchOrder=order, minJavaVersion="1.8")
    if found:
        assert result.exit_code == 0, result
        assert found_home(app) == wine.windows_path(home)
        assert app.main_calls() == ['main thread="main" args=[]']
    else:
        # As before the new strategies: nothing found, reported, no JVM created.
        assert result.exit_code == 255
        assert app.log == ""


@pytest.mark.parametrize("maximum,chosen", [("", "17.0.9.9"), ("11", "11.0.21.9"), ("1.8", "8.0.392.8")],
                         ids=["no maximum", "maximum 11", "maximum 1.8"])
def test_the_newest_runtime_within_the_maximum_is_chosen(wine, tmp_path, machine, maximum, chosen):
    homes = {version: install(wine, tmp_path, machine, "Adoptium key", version)[0]
             for version in ("8.0.392.8", "11.0.21.9", "17.0.9.9")}
    settings = {"maxJavaVersion": maximum} if maximum else {}
    app, result = launch(wine, tmp_path, jreSearchOrder="6", minJavaVersion="1.8", **settings)
    assert result.exit_code == 0, result
    assert found_home(app) == wine.windows_path(homes[chosen])


def test_a_32_bit_library_found_first_is_passed_over(wine, tmp_path, machine):
    # A genuine 32-bit PE image: the x86 launcher template, named jvm.dll.
    x86 = paths.dist() / "templates" / "launcher-x86.exe"
    install(wine, tmp_path, machine, "JavaSoft JDK key", "21.0.1", library=x86)  # newest, but 32-bit
    older, _ = install(wine, tmp_path, machine, "JavaSoft JDK key", "17.0.9")
    listed = tmp_path / "x86" / "jvm.dll"
    listed.parent.mkdir()
    shutil.copyfile(x86, listed)
    for order, path_list, home in [("5", "", older),
                                   ("05", wine.windows_path(listed), older),
                                   ("0", f"{wine.windows_path(listed)};{wine.windows_path(double_dll())}", None)]:
        app, result = launch(wine, tmp_path, jreSearchOrder=order, jvmPathList=path_list)
        assert result.exit_code == 0, (order, result)
        assert found_home(app) == (wine.windows_path(home) if home else ""), order


UNICODE_ARGUMENTS = [
    pytest.param(["x-Ωμέγα", "日本語 ë"], id="first argument starting in ASCII"),
    # The C runtime's start-up code takes bytes above 0x7F for blanks while it skips the program
    # name, so the launcher reads GetCommandLineA itself.
    pytest.param(["Ωμέγα", "日本語 ë"], id="first argument starting beyond ASCII"),
]


@pytest.mark.parametrize("arguments", UNICODE_ARGUMENTS)
def test_unicode_folder_and_arguments(wine, tmp_path, arguments):
    # Wine 8 honours the manifest's UTF-8 active code page (GetACP() gives 65001): the ANSI calls see
    # UTF-8, so a folder and arguments outside any single-byte code page survive. Wine reads Linux
    # arguments in the Linux locale, hence LANG.
    folder = tmp_path / "Zoë Ωμέγα 日本"
    folder.mkdir()
    app = DoubleApp(wine, folder, [])
    result = wine.run(app.exe, *arguments, cwd=folder, env={"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
    assert result.exit_code == 0, result
    assert app.main_calls() == ['main thread="main" args=[' + ", ".join(f'"{a}"' for a in arguments) + "]"]
    assert app.properties()["korvane.exe.path"] == wine.windows_path(app.exe)
    assert app.properties()["user.dir"] == wine.windows_path(folder)
