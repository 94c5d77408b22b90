"""Authenticode: a packaged launcher signed with osslsigncode verifies and still runs under Wine, and
korvane-pack refuses to write into a signed file unless told to drop the signature."""
import json
import subprocess
from pathlib import Path

import pytest

from double import DoubleApp
from fixtures import write_config
from harness import paths


def run(*argv) -> subprocess.CompletedProcess:
    return subprocess.run([str(a) for a in argv], capture_output=True, text=True, timeout=120)


@pytest.fixture(scope="module")
def certificate(tmp_path_factory) -> tuple[Path, Path]:
    folder = tmp_path_factory.mktemp("certificate")
    key, cert = folder / "key.pem", folder / "cert.pem"
    made = run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
               "-days", "2", "-subj", "/CN=Korvane Test Signer", "-addext", "extendedKeyUsage=codeSigning")
    assert made.returncode == 0, made.stderr
    return key, cert


def sign(certificate, unsigned: Path, signed: Path) -> None:
    key, cert = certificate
    result = run("osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Korvane test", "-h", "sha256",
                 "-in", unsigned, "-out", signed)
    assert result.returncode == 0, result.stdout + result.stderr


def verify(certificate, exe: Path) -> subprocess.CompletedProcess:
    return run("osslsigncode", "verify", "-CAfile", certificate[1], "-in", exe)


def pack(*args) -> subprocess.CompletedProcess:
    return run(paths.dist() / "korvane-pack", *args)


def signed_flag(exe: Path) -> bool:
    shown = pack("inspect", exe, "--json")
    assert shown.returncode == 0, shown.stderr
    return json.loads(shown.stdout)["signed"]


def test_a_signed_launcher_verifies_and_runs(wine, tmp_path, certificate):
    app = DoubleApp(wine, tmp_path, [])
    signed = tmp_path / "signed.exe"
    sign(certificate, app.exe, signed)
    checked = verify(certificate, signed)
    assert checked.returncode == 0, checked.stdout + checked.stderr
    assert "Signature verification: ok" in checked.stdout
    assert signed_flag(signed) and not signed_flag(app.exe)
    result = wine.run(signed, "one")
    assert result.exit_code == 0, result
    assert app.main_calls() == ['main thread="main" args=["one"]']


def test_a_signed_template_is_refused_unless_the_signature_is_dropped(wine, tmp_path, certificate):
    template = tmp_path / "signed-template.exe"
    sign(certificate, paths.dist() / "templates" / "launcher-x64.exe", template)
    config = write_config(tmp_path / "app.toml", {"mainClass": "com.example.Main"})

    refused = pack("build", config, "-o", tmp_path / "refused.exe", "--template", template)
    assert refused.returncode == 1
    assert refused.stderr.strip() == ("korvane-pack: the template is code-signed; writing into it would break the "
                                      "signature (use --drop-signature to remove it, then sign the result again)")
    assert not (tmp_path / "refused.exe").exists()

    dropped = pack("build", config, "-o", tmp_path / "dropped.exe", "--template", template, "--drop-signature")
    assert dropped.returncode == 0, dropped.stderr
    assert not signed_flag(tmp_path / "dropped.exe")
    unsigned = verify(certificate, tmp_path / "dropped.exe")
    assert unsigned.returncode != 0 and "No signature found" in unsigned.stdout + unsigned.stderr
    # Nothing of the signature is left: the result is the one the unsigned template gives.
    plain = pack("build", config, "-o", tmp_path / "plain.exe")
    assert plain.returncode == 0, plain.stderr
    assert (tmp_path / "dropped.exe").read_bytes() == (tmp_path / "plain.exe").read_bytes()
    # And it can be signed again.
    sign(certificate, tmp_path / "dropped.exe", tmp_path / "resigned.exe")
    assert verify(certificate, tmp_path / "resigned.exe").returncode == 0


def test_a_signed_launcher_dropped_and_repackaged_still_runs(wine, tmp_path, certificate):
    app = DoubleApp(wine, tmp_path, [])
    signed = tmp_path / "signed.exe"
    sign(certificate, app.exe, signed)
    config = tmp_path / "app.toml"  # DoubleApp's own config
    repacked = pack("build", config, "-o", tmp_path / "again.exe", "--template", signed, "--drop-signature")
    assert repacked.returncode == 0, repacked.stderr
    result = wine.run(tmp_path / "again.exe", "two")
    assert result.exit_code == 0, result
    assert app.main_calls() == ['main thread="main" args=["two"]']
