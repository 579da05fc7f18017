"""What the downloads hold, read from the files themselves: names, sums, bitness, the notes."""

import hashlib
import io
import json
import re
import struct
import tarfile
import zipfile

import pytest

PROGRAM_FILES = {"Kavenor.exe", "KavenorReaderHost.exe", "03_idcard.html", "NFC_idcard.html", "idcardM1.html", "说明.txt",
                 "demo/kadrel.dll", "demo/说明.txt"}
# The client library for web pages, as in the npm package, with the guide.
WEB_FILES = {f"web/{name}" for name in ("kavenor-client.mjs", "kavenor-client.js", "kavenor-client.d.mts",
                                        "kavenor-client.d.ts", "web-developers.md")}
SDK_FOLDERS = ("ORV5A", "ORV5U", "ORV5ULN")
NOTE = "放入kadrel.dll.txt"
# IMAGE_FILE_MACHINE_* of each target's programs.
MACHINE = {"win64": 0x8664, "win32": 0x014C}
BITS = {"win64": "64", "win32": "32"}


def pe_machine_and_sections(data):
    """The PE header's machine and section names of an executable image."""
    assert data[:2] == b"MZ"
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    machine, sections = struct.unpack_from("<HH", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional_size
    symbols, symbol_count = struct.unpack_from("<II", data, pe + 12)
    names = []
    for i in range(sections):
        name = data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("latin-1")
        if name.startswith("/"):  # a long name, kept in the string table after the symbols
            at = symbols + 18 * symbol_count + int(name[1:])
            name = data[at:data.index(b"\0", at)].decode("latin-1")
        names.append(name)
    return machine, names


def product_version_resource(program):
    """The ProductVersion text of a program's version resource (UTF-16 in its StringFileInfo)."""
    text = program.decode("utf-16-le", errors="replace") + program[1:].decode("utf-16-le", errors="replace")
    match = re.search("ProductVersion\0+([^\0]+)\0", text)
    assert match, "no ProductVersion in the version resource"
    return match.group(1)


def test_sums_cover_the_four_downloads_and_the_web_package(dist):
    folder, version = dist
    expected = {f"Kavenor-{version}-{t}{kind}" for t in ("win64", "win32") for kind in (".zip", "-setup.exe")}
    expected.add(f"kavenor-client-{version}.tgz")
    sums = {}
    for line in (folder / "SHA256SUMS").read_text(encoding="ascii").splitlines():
        digest, name = line.split("  ", 1)
        sums[name] = digest
    assert set(sums) == expected
    for name, digest in sums.items():
        assert hashlib.sha256((folder / name).read_bytes()).hexdigest() == digest, name


@pytest.mark.parametrize("target", ["win64", "win32"])
def test_zip_holds_the_program_and_notes_and_no_simulated_reader_where_a_reader_library_goes(dist, target):
    folder, version = dist
    top = f"Kavenor-{version}-{target}/"
    with zipfile.ZipFile(folder / f"Kavenor-{version}-{target}.zip") as archive:
        entries = archive.infolist()
        names = {e.filename[len(top):] for e in entries if e.filename.startswith(top) and not e.is_dir()}
        assert all(e.filename.startswith(top) for e in entries), "everything unpacks into one folder"
        assert names == PROGRAM_FILES | WEB_FILES | {f"{sdk}/{NOTE}" for sdk in SDK_FOLDERS}

        # An unzip on a Chinese Windows reads a name without the UTF-8 flag as GBK.
        for entry in entries:
            if not entry.filename.isascii():
                assert entry.flag_bits & 0x800, entry.filename

        program = archive.read(top + "Kavenor.exe")
        machine, sections = pe_machine_and_sections(program)
        assert machine == MACHINE[target]
        assert ".text" in sections and not [s for s in sections if s.startswith(".debug")], "shipped stripped"
        assert pe_machine_and_sections(archive.read(top + "demo/kadrel.dll"))[0] == MACHINE[target]

        for sdk in SDK_FOLDERS:
            note = archive.read(f"{top}{sdk}/{NOTE}")
            assert note.startswith(b"\xef\xbb\xbf") and b"\r\n" in note, "a text for Notepad"
            assert f"kadrel.dll（{BITS[target]} 位）" in note.decode("utf-8-sig")
        guide = archive.read(top + "说明.txt").decode("utf-8-sig")
        for must in ("ORV5A\\kadrel.dll", "ORV5U\\kadrel.dll", "ORV5ULN\\kadrel.dll", f"{BITS[target]} 位",
                     "http://127.0.0.1:7415", "防火墙", "Config.ini", "已被占用", version,
                     "请求使用读卡器。是否允许？", "移除所选网站", "AskOperator=0", "AllowedOrigins=*"):
            assert must in guide, must


@pytest.mark.parametrize("target", ["win64", "win32"])
def test_installer_is_a_program_of_its_target(dist, target):
    folder, version = dist
    machine, _ = pe_machine_and_sections((folder / f"Kavenor-{version}-{target}-setup.exe").read_bytes())
    assert machine == MACHINE[target]


def test_one_version_in_the_program_the_package_and_the_library(dist):
    folder, version = dist
    with tarfile.open(folder / f"kavenor-client-{version}.tgz") as tgz:
        package = {m.name: tgz.extractfile(m).read() for m in tgz.getmembers() if m.isfile()}
    assert json.loads(package["package/package.json"])["version"] == version
    for target in ("win64", "win32"):
        top = f"Kavenor-{version}-{target}/"
        with zipfile.ZipFile(folder / f"Kavenor-{version}-{target}.zip") as archive:
            assert product_version_resource(archive.read(top + "Kavenor.exe")) == version
            # The zip's web/ folder holds the package's own files.
            for name in ("kavenor-client.mjs", "kavenor-client.js", "kavenor-client.d.ts"):
                shipped = archive.read(f"{top}web/{name}")
                assert shipped == package[f"package/dist/{name}"], name
                assert f"VERSION = '{version}'".encode() in shipped or name.endswith(".d.ts")
