#!/usr/bin/env python3
"""Makes the payloads of the job tests' setups: zip archives for the driver
package job, the upgrade job and the add-on installation, each also in a
damaged form whose last member fails its CRC-32 check.
Usage: make_job_payloads.py OUTPUT_FOLDER DPINST_EXE"""

import os
import struct
import sys
import zipfile

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

# The last member "damaged.bin" is stored with a CRC-32 that its data do not
# have, in both of its headers, so that its extraction fails.
for name, members in damaged.items():
    path = os.path.join(out, name)
    write(path, members + [("damaged.bin", b"damaged data\r\n" * 100)])
    with zipfile.ZipFile(path) as archive:
        info = archive.getinfo("damaged.bin")
    data = bytearray(open(path, "rb").read())
    wrong = struct.pack("<I", info.CRC ^ 0x5A5A5A5A)
    data[info.header_offset + 14:info.header_offset + 18] = wrong
    central = data.rindex(b"PK\x01\x02")  # the last member's directory entry
    data[central + 16:central + 20] = wrong
    open(path, "wb").write(bytes(data))
