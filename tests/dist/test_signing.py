"""Signing with a certificate given to scripts/dist.sh: a throw-away one, made here."""

import subprocess
import zipfile

import pytest

from conftest import ROOT


def verify(path, ca):
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(path)], capture_output=True,
                            text=True)
    return result.returncode == 0, result.stdout + result.stderr


@pytest.fixture(scope="module")
def signer(tmp_path_factory):
    folder = tmp_path_factory.mktemp("signer")
    password = folder / "password.txt"
    password.write_text("a throw-away password")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Kavenor test signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", str(folder / "key.pem"), "-out", str(folder / "cert.pem")],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(folder / "key.pem"), "-in", str(folder / "cert.pem"),
                    "-out", str(folder / "signer.pfx"), "-passout", f"file:{password}"], check=True)
    return folder / "signer.pfx", password, folder / "cert.pem"


@pytest.fixture(scope="module")
def signed(dist, signer, tmp_path_factory):
    """Downloads made again, signed, into a folder of their own."""
    _, version = dist
    cert, password, _ = signer
    out = tmp_path_factory.mktemp("signed")
    subprocess.run([str(ROOT / "scripts" / "dist.sh"), "--cert", str(cert), "--password-file", str(password),
                    "--out", str(out)], check=True, stdout=subprocess.DEVNULL)
    return out, version


@pytest.mark.parametrize("target", ["win64", "win32"])
def test_program_and_installer_are_signed(signed, signer, tmp_path, target):
    out, version = signed
    ca = signer[2]
    name = f"Kavenor-{version}-{target}"
    with zipfile.ZipFile(out / f"{name}.zip") as archive:
        for program in ("Kavenor.exe", "KavenorReaderHost.exe"):
            archive.extract(f"{name}/{program}", tmp_path)
    for path in (tmp_path / name / "Kavenor.exe", tmp_path / name / "KavenorReaderHost.exe", out / f"{name}-setup.exe"):
        ok, report = verify(path, ca)
        assert ok, f"{path.name}: {report}"


def test_the_installed_uninstaller_is_signed(windows, signed, signer, tmp_path):
    out, version = signed
    folder = tmp_path / "Kavenor"
    code, _ = windows.run(out / f"Kavenor-{version}-win64-setup.exe", "/S", f"/D={windows.path(folder)}")
    assert code == 0
    ok, report = verify(folder / "uninstall.exe", signer[2])
    assert ok, report


def test_without_a_certificate_nothing_is_signed(dist, signer):
    folder, version = dist
    ok, _ = verify(folder / f"Kavenor-{version}-win64-setup.exe", signer[2])
    assert not ok
