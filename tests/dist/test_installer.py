"""The win64 installer under Wine, as IT runs it on a counter: refused options, a silent installation
with every option, the installed program at work, two upgrades and the uninstallation. The tests run in
this order on one Windows, each starting from what the one before left."""

import shutil

import pytest

from clients import RawClient, WsClient, http_get, listening
from kavenor_app import free_port, wait_until
from windows import RUN_KEY, UNINSTALL_KEY

DEVICE_NAME = "大厅 2/窗口"   # a blank and a "/", which ${GetOptions} would cut off
ORIGINS = "https://counter.example.cn,http://10.1.2.3:8080"
SHIPPED = ("Kavenor.exe", "KavenorReaderHost.exe", "03_idcard.html", "NFC_idcard.html", "idcardM1.html", "说明.txt", "uninstall.exe",
           "demo/kadrel.dll", "ORV5A/放入kadrel.dll.txt", "ORV5U/放入kadrel.dll.txt", "ORV5ULN/放入kadrel.dll.txt")


@pytest.fixture(scope="module")
def setup_exe(dist):
    folder, version = dist
    return folder / f"Kavenor-{version}-win64-setup.exe"


@pytest.fixture(scope="module")
def port():
    return free_port()


def read_config(windows, folder=None):
    """Config.ini as {section: {key: value}}, in the order of the file."""
    # WritePrivateProfileString writes a new file in the code page, as the program's own writes do.
    text = ((folder or windows.install_dir) / "Config.ini").read_bytes().decode("gbk")
    sections = {}
    for line in text.splitlines():
        if line.startswith("["):
            section = sections.setdefault(line.strip("[]"), {})
        elif "=" in line:
            key, value = line.split("=", 1)
            section[key] = value
    return sections


def put_demo_reader(windows, *folders):
    for folder in folders:
        shutil.copy2(windows.install_dir / "demo" / "kadrel.dll", windows.install_dir / folder / "kadrel.dll")


@pytest.mark.parametrize("option", [
    "/PORT=0", "/PORT=65536", "/PORT=74a5", "/PORT=007415", "/PORT=",
    "/MODEL=4", "/MODEL=ORV6", "/MODEL=",
    "/DEVICENAME=大厅|1", "/AUTOSTART=yes", "/LOCALONLY=2", "/ASKOPERATOR=no",
])
def test_a_bad_option_ends_the_installer_before_it_changes_anything(windows, setup_exe, option):
    code, _ = windows.run(setup_exe, "/S", option)
    assert code == 2
    assert not windows.install_dir.exists()
    assert windows.reg_value(RUN_KEY, "Kavenor") is None


def test_silent_installation_with_every_option(windows, setup_exe, port):
    code, _ = windows.run(setup_exe, "/S", f"/PORT= {port}", "/MODEL=orv5u", f"/DEVICENAME={DEVICE_NAME}",
                          "/AUTOSTART=1", "/LOCALONLY=1", f"/ALLOWEDORIGINS={ORIGINS}")
    assert code == 0
    for name in SHIPPED:
        assert (windows.install_dir / name).is_file(), name
    assert not (windows.install_dir / "ORV5U" / "kadrel.dll").exists(), "no reader library of ours"
    assert read_config(windows) == {
        "IP": {"port": str(port), "Bind": "loopback"},
        "Device": {"ID": "0", "DeviceName": DEVICE_NAME},
        "Security": {"AllowedOrigins": ORIGINS, "AskOperator": "0"},
    }

    program = f'"{windows.path(windows.install_dir / "Kavenor.exe")}"'
    assert windows.reg_value(RUN_KEY, "Kavenor").lower() == program.lower()
    assert (windows.start_menu / "Kavenor.lnk").is_file()
    assert windows.reg_value(UNINSTALL_KEY, "DisplayName") == "Kavenor 读卡服务"
    assert windows.reg_value(UNINSTALL_KEY, "QuietUninstallString").lower().endswith('uninstall.exe" /s')


def test_the_installed_program_serves_on_the_port_given(windows, port):
    put_demo_reader(windows, "ORV5A", "ORV5U", "ORV5ULN")
    program = windows.start(windows.install_dir).wait_listening(port)
    try:
        status, _, page = http_get(port)
        assert status == 200 and page == (windows.install_dir / "03_idcard.html").read_bytes()
        with WsClient(f"ws://127.0.0.1:{port}", origin="https://counter.example.cn") as client:
            # The model and the device name as the settings window would have set them.
            assert client.request("3").startswith(f"ORV5U|{DEVICE_NAME}|身份证|")
        with RawClient(port) as raw:
            assert raw.try_handshake(headers=["Origin: https://evil.example.com"])[0] == 403
    finally:
        program.stop()


def test_an_upgrade_keeps_the_settings_and_the_reader_library(windows, setup_exe, port):
    config = windows.install_dir / "Config.ini"
    config.write_bytes(config.read_bytes() + b"[IP]\r\nCom=3\r\n")
    library = windows.install_dir / "ORV5U" / "kadrel.dll"
    library.write_bytes(b"the maker's library")
    program = windows.install_dir / "Kavenor.exe"
    shipped_program = program.read_bytes()
    program.write_bytes(b"an older program")
    settings = config.read_bytes()

    code, _ = windows.run(setup_exe, "/S")
    assert code == 0
    assert config.read_bytes() == settings
    assert library.read_bytes() == b"the maker's library"
    assert program.read_bytes() == shipped_program
    assert windows.reg_value(RUN_KEY, "Kavenor") is not None, "start at login stays as it was"


def test_an_upgrade_closes_the_running_program_and_starts_it_again(windows, setup_exe, port):
    put_demo_reader(windows, "ORV5U")
    running = windows.start(windows.install_dir).wait_listening(port)
    try:
        code, _ = windows.run(setup_exe, "/S")
        assert code == 0
        assert running.ended(), "the installer closed the program that held Kavenor.exe"
        # The installer started the new program; its reply proves it serves again.
        assert wait_until(lambda: listening(port)), "the new program listens"
        with WsClient(f"ws://127.0.0.1:{port}") as client:
            assert client.request("3").startswith(f"ORV5U|{DEVICE_NAME}|")
    finally:
        running.stop()


def test_silent_uninstallation_removes_the_program_its_shortcut_and_its_run_entry(windows, port):
    # The program the upgrade started is still running: the uninstaller closes it first.
    code, _ = windows.run(windows.install_dir / "uninstall.exe", "/S")
    assert code == 0
    # The uninstaller goes on in a copy of itself in the temporary folder, the folder first, then the
    # shortcut and the registry: each is waited for in that order.
    assert wait_until(lambda: not windows.install_dir.exists()), sorted(windows.install_dir.rglob("*"))
    assert wait_until(lambda: not (windows.start_menu / "Kavenor.lnk").exists()), "the shortcut"
    assert wait_until(lambda: windows.reg_value(RUN_KEY, "Kavenor") is None), "the run entry"
    assert wait_until(lambda: windows.reg_value(UNINSTALL_KEY, "DisplayName") is None), "the uninstall entry"
    assert wait_until(lambda: not listening(port)), "the program was closed"


@pytest.mark.parametrize("options, config", [
    (["/MODEL=0"], {"Device": {"ID": "0"}, "IP": {"Bind": "loopback"}}),
    (["/MODEL=1"], {"Device": {"ID": "1"}, "IP": {"Bind": "loopback"}}),
    (["/MODEL=ORV5A(FT232)", "/LOCALONLY=0"], {"Device": {"ID": "2"}}),
    (["/MODEL=orv5u-ln", "/ALLOWEDORIGINS="], {"Device": {"ID": "3"}, "IP": {"Bind": "loopback"}}),
    (["/DEVICENAME=", "/LOCALONLY=0"], {"Device": {"DeviceName": ""}}),
    (["/ASKOPERATOR=0", "/LOCALONLY=0"], {"Security": {"AskOperator": "0"}}),
    (["/ALLOWEDORIGINS=*", "/ASKOPERATOR=1", "/LOCALONLY=0"], {"Security": {"AllowedOrigins": "*", "AskOperator": "1"}}),
])
def test_a_new_installation_writes_what_its_options_say_and_is_local_only(windows, setup_exe, tmp_path, options,
                                                                           config):
    folder = tmp_path / "Kavenor"
    code, _ = windows.run(setup_exe, "/S", *options, f"/D={windows.path(folder)}")
    assert code == 0
    assert read_config(windows, folder) == config
