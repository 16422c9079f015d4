#!/usr/bin/env python3
"""Makes the payloads of the job tests' setups: zip archives for the driver
package job, the upgrade job and the add-on installation, each also in a
damaged form whose last member fails its CRC-32 check. The bundler refuses a
damaged archive, so a damaged setup is made from the intact form
("*.intact.zip") and damaged afterwards, in place.
Usage: make_job_payloads.py OUTPUT_FOLDER DPINST_EXE
       make_job_payloads.py --damage INTACT_SETUP DAMAGED_SETUP"""

import os
import struct
import sys
import zipfile


def damage(source, target):
    """Stores the CRC-32 of the last member "damaged.bin" wrongly, in both of
    its headers, so that its extraction fails; the archive may follow other
    data (a setup), whose offsets zipfile takes into account."""
    with zipfile.ZipFile(source) as archive:
        info = archive.getinfo("damaged.bin")
    data = bytearray(open(source, "rb").read())
    wrong = struct.pack("<I", info.CRC ^ 0x5A5A5A5A)
    data[info.header_offset + 14:info.header_offset + 18] = wrong
    central = data.rindex(b"PK\x01\x02")  # the last member's directory entry
    data[central + 16:central + 20] = wrong
    open(target, "wb").write(bytes(data))


if sys.argv[1] == "--damage":
    damage(sys.argv[2], sys.argv[3])
    sys.exit(0)

out, dpinst = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)

dpinst_exe = open(dpinst, "rb").read()
# Runs only when the driver package job is not chosen first; says so in the
# file that VARNOX_UPGRADE_RECORD names.
recording_upgrade = (b"@echo off\r\n"
                     b"if defined VARNOX_UPGRADE_RECORD echo ran> \"%VARNOX_UPGRADE_RECORD%\"\r\n"
                     b"echo upgrade.cmd ran\r\n")
upgrade = (b"@echo off\r\n"
           b"echo Upgrading the Velmora agent.\r\n"
           b"echo.\r\n"
           b"if exist \"%~dp0notes.txt\" echo notes.txt lies beside upgrade.cmd.\r\n")
# Simplified Chinese in the ANSI code page 936, as a Chinese Windows keeps it.
upgrade_zh = ("@echo off\r\n"
              "echo 正在升级 Velmora 代理……\r\n"
              "echo 升级完成：版本 2.1\r\n").encode("gbk")

payloads = {
    "driver_package.zip": [
        ("dpinst.exe", dpinst_exe),
        ("driver/velmora.inf", b"; the driver package's description\r\n"),
        ("driver/amd64/velmora.sys", b"\0" * 4096),
        ("upgrade.cmd", recording_upgrade),
    ],
    "upgrade.zip": [("upgrade.cmd", upgrade), ("notes.txt", b"release notes\r\n")],
    "upgrade_zh.zip": [("upgrade.cmd", upgrade_zh)],
    "addon.zip": [
        ("linux_conv.img", b"\x7fELF" + bytes(range(256)) * 16),
        ("bin/convert.cfg", b"mode=full\r\n"),
        ("readme.txt", b"Installed beside the agent.\r\n"),
    ],
}
damaged = {
    "driver_package_damaged.zip": [("dpinst.exe", dpinst_exe)],
    "upgrade_damaged.zip": [("upgrade.cmd", upgrade)],
    "addon_damaged.zip": [("linux_conv.img", b"image"), ("readme.txt", b"first\r\n")],
}


def write(path, members):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in members:
            archive.writestr(name, data)


for name, members in payloads.items():
    write(os.path.join(out, name), members)

for name, members in damaged.items():
    intact = os.path.join(out, name[:-len(".zip")] + ".intact.zip")
    write(intact, members + [("damaged.bin", b"damaged data\r\n" * 100)])
    damage(intact, os.path.join(out, name))
