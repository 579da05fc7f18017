#!/usr/bin/env python3
"""Makes what an operator downloads from the built Windows app folders: per target a zip and an NSIS
installer, then SHA256SUMS for them all and for the web developers' package kavenor-client-<version>.tgz
that scripts/dist.sh packed into the same folder before. Run by scripts/dist.sh after the build.

  package.py --version 1.1.0 --root <repo> --out build/dist win64 win32
             [--cert signer.pfx --password-file pass.txt]

The program comes stripped of its debug information. The SDK folders hold only a note naming the file
to put there: the simulated reader travels in demo/ alone, so that no real installation can ever
answer a fictitious card as if a reader had read it.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
PAGES = ("03_idcard.html", "NFC_idcard.html", "idcardM1.html")
# Each SDK folder and the reader models that load the library in it.
SDK_FOLDERS = {
    "ORV5A": "ORV5A、ORV5A(FT232)",
    "ORV5U": "ORV5U",
    "ORV5ULN": "ORV5U-LN",
}
SDK_NOTE = "放入kadrel.dll.txt"
GUIDE = "说明.txt"
# The client library for web pages, as in the npm package, with the developers' guide.
WEB = "web"
WEB_GUIDE = Path("docs") / "web-developers.md"
TARGETS = {
    "win64": {"bits": "64", "tools": "x86_64-w64-mingw32"},
    "win32": {"bits": "32", "tools": "i686-w64-mingw32"},
}


def text_file(path, template, **values):
    """A text for Notepad: UTF-8 with a byte-order mark (older Notepads guess GBK without it), CRLF."""
    text = template
    for key, value in values.items():
        text = text.replace(f"@{key}@", value)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"\xef\xbb\xbf" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"))


class Signer:
    """Authenticode signing with osslsigncode, or nothing when no certificate is given."""

    def __init__(self, cert, password_file):
        self.cert = cert
        self.password_file = password_file

    def __bool__(self):
        return self.cert is not None

    def command(self, source, signed):
        return ["osslsigncode", "sign", "-pkcs12", str(self.cert), "-readpass", str(self.password_file),
                "-n", "Kavenor", "-h", "sha256", "-in", str(source), "-out", str(signed)]

    def sign(self, path):
        if not self:
            return
        signed = path.with_name(path.name + ".signed")
        subprocess.run(self.command(path, signed), check=True, stdout=subprocess.DEVNULL)
        os.replace(signed, path)


PROGRAMS = ["Kavenor.exe", "KavenorReaderHost.exe"]


def stage(target, build, version, signer, dest):
    """Lays out the program folder as it is shipped."""
    info = TARGETS[target]
    app = build / "app"
    strip = f"{info['tools']}-strip"
    dest.mkdir(parents=True)
    # The program and its reader host, the process that loads the SDK: both signed.
    for program in PROGRAMS:
        subprocess.run([strip, "-o", str(dest / program), str(app / program)], check=True)
        signer.sign(dest / program)
    for page in PAGES:
        shutil.copy2(app / page, dest / page)
    for folder, models in SDK_FOLDERS.items():
        text_file(dest / folder / SDK_NOTE, (HERE / "sdk_note.txt").read_text(encoding="utf-8"),
                  BITS=info["bits"], MODELS=models)
    text_file(dest / GUIDE, (HERE / "guide.txt").read_text(encoding="utf-8"), VERSION=version, BITS=info["bits"])
    text_file(dest / "demo" / GUIDE, (HERE / "demo_guide.txt").read_text(encoding="utf-8"))
    subprocess.run([strip, "-o", str(dest / "demo" / "kadrel.dll"), str(build / "bin/sim/full/kadrel.dll")],
                   check=True)
    (dest / WEB).mkdir()
    for library in sorted((build / "kavenor-client" / "dist").iterdir()):
        shutil.copy2(library, dest / WEB / library.name)
    shutil.copy2(build.parent.parent / WEB_GUIDE, dest / WEB / WEB_GUIDE.name)


def shipped_files(folder):
    """The files under `folder`, as sorted relative paths."""
    return sorted(p.relative_to(folder) for p in folder.rglob("*") if p.is_file())


def build_time():
    """The last commit's time, so that a zip made twice from one commit is the same file."""
    stamp = os.environ.get("SOURCE_DATE_EPOCH")
    if not stamp:
        result = subprocess.run(["git", "-C", str(HERE), "log", "-1", "--format=%ct"], capture_output=True,
                                text=True)
        stamp = result.stdout.strip() if result.returncode == 0 else ""
    seconds = int(stamp) if stamp.isdigit() else int(time.time())
    return max(time.gmtime(seconds)[:6], (1980, 1, 1, 0, 0, 0))


def make_zip(folder, top, path):
    # zipfile marks each entry named outside ASCII as UTF-8 (flag bit 11), so that an unzip on a
    # Chinese Windows does not read 说明.txt as GBK.
    when = build_time()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for relative in shipped_files(folder):
            entry = zipfile.ZipInfo(f"{top}/{relative.as_posix()}", date_time=when)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            archive.writestr(entry, (folder / relative).read_bytes())


def uninstall_list(folder, path):
    """The uninstaller's part that deletes what the installer put down, file by file, then the folders."""
    files = shipped_files(folder)
    folders = sorted({p.parent for p in files if p.parent != Path(".")}, key=lambda p: -len(p.parts))
    lines = [f'Delete "$INSTDIR\\{str(p).replace("/", chr(92))}"' for p in files]
    lines += [f'RMDir "$INSTDIR\\{str(p).replace("/", chr(92))}"' for p in folders]
    path.write_text("; Made by package.py from the staged folder.\n" + "\n".join(lines) + "\n", encoding="utf-8")


def make_installer(target, build, folder, version, signer, work, path):
    listing = work / "installed_files.nsh"
    uninstall_list(folder, listing)
    defines = {
        "VERSION": version,
        "ARCH": target,
        "STAGE": str(folder),
        "ICON": str(build / "shell/res/kavenor.ico"),
        "INSTALLED_FILES": str(listing),
        "OUTFILE": str(path),
    }
    command = ["makensis", "-V2", "-INPUTCHARSET", "UTF8"] + [f"-D{k}={v}" for k, v in defines.items()]
    if signer:
        command += [f"-DSIGN_CERT={signer.cert.resolve()}", f"-DSIGN_PASSWORD_FILE={signer.password_file.resolve()}"]
    command.append(str(HERE / "kavenor.nsi"))
    subprocess.run(command, check=True, env=dict(os.environ, LC_ALL="C.UTF-8"))
    signer.sign(path)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--root", type=Path, required=True, help="the repository (its build/<target> folders)")
    parser.add_argument("--out", type=Path, required=True)
    parser.add_argument("--cert", type=Path, help="a PKCS#12 file (.pfx) to sign with")
    parser.add_argument("--password-file", type=Path, help="the certificate's password, alone in a file")
    parser.add_argument("targets", nargs="+", choices=sorted(TARGETS))
    args = parser.parse_args()
    if bool(args.cert) != bool(args.password_file):
        parser.error("--cert and --password-file go together")
    signer = Signer(args.cert, args.password_file)

    args.out.mkdir(parents=True, exist_ok=True)
    client = f"kavenor-client-{args.version}.tgz"
    if not (args.out / client).is_file():
        parser.error(f"{args.out / client} is missing (npm pack of build/<target>/kavenor-client)")
    made = [client]
    with tempfile.TemporaryDirectory(prefix="kavenor-dist-") as scratch:
        for target in args.targets:
            build = args.root / "build" / target
            name = f"Kavenor-{args.version}-{target}"
            folder = Path(scratch) / target / name
            stage(target, build, args.version, signer, folder)
            make_zip(folder, name, args.out / f"{name}.zip")
            make_installer(target, build, folder, args.version, signer, Path(scratch) / target,
                           args.out / f"{name}-setup.exe")
            made += [f"{name}.zip", f"{name}-setup.exe"]

    sums = "".join(f"{sha256(args.out / name)}  {name}\n" for name in sorted(made))
    (args.out / "SHA256SUMS").write_text(sums, encoding="ascii")
    for name in sorted(made) + ["SHA256SUMS"]:
        print(f"dist: {args.out / name} ({(args.out / name).stat().st_size:,} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
