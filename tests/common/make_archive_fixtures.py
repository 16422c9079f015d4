#!/usr/bin/env python3
"""Makes the zip archives that the archive tests read, with more than one
producer: Info-ZIP zip (seekable and streamed), Python's zipfile, and hand
patched copies for corruption. Usage: make_archive_fixtures.py OUTPUT_FOLDER"""

import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile

out = os.path.abspath(sys.argv[1])
shutil.rmtree(out, ignore_errors=True)
os.makedirs(out)
rng = random.Random(20261210)

# The member tree; the tests compare what they extract with these files.
tree = os.path.join(out, "tree")
files = {
    "readme.txt": b"Setup payload test member.\r\n" * 400,
    "Dpinst.exe": b"MZ" + bytes(rng.getrandbits(8) for _ in range(5000)),
    "data.bin": bytes(rng.getrandbits(8) for _ in range(300 * 1024)),
    "zero.txt": b"",
    "sub/inner.txt": b"inner " * 1000,
    "sub/deeper/LEAF.TXT": b"LEAF\n" * 77,
}
for name, data in files.items():
    path = os.path.join(tree, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
os.makedirs(os.path.join(tree, "empty_folder"))

folders_tree = os.path.join(out, "folders_tree")
for folder in ("a/b/c", "d"):
    os.makedirs(os.path.join(folders_tree, *folder.split("/")))


def run(args, cwd, stdout=None, stdin=None):
    subprocess.run(args, cwd=cwd, check=True, stdout=stdout, stdin=stdin, stderr=subprocess.DEVNULL)


# Info-ZIP, seekable output: .bin members stored, the rest deflated, folder entries.
run(["zip", "-q", "-X", "-r", "-n", ".bin", os.path.join(out, "infozip.zip"), "."], tree)
# Info-ZIP writing to a pipe: every member streamed with a data descriptor.
with open(os.path.join(out, "infozip_streamed.zip"), "wb") as f:
    zipper = subprocess.Popen(["zip", "-q", "-X", "-r", "-n", ".bin", "-", "."], cwd=tree, stdout=subprocess.PIPE)
    shutil.copyfileobj(zipper.stdout, f)
    if zipper.wait() != 0:
        sys.exit("zip to a pipe failed")
# Info-ZIP reading a pipe: the member "-", once as Zip64 (zip's default for
# input of unknown size) and once without.
for name, extra in (("infozip_stdin64.zip", []), ("infozip_stdin.zip", ["-fz-"])):
    with open(os.path.join(tree, "readme.txt"), "rb") as source:
        run(["zip", "-q", "-X"] + extra + [os.path.join(out, name), "-"], out, stdin=source)
run(["zip", "-q", "-X", "-r", os.path.join(out, "infozip_folders_only.zip"), "."], folders_tree)

# Python's zipfile: explicit folder entries, mixed methods.
with zipfile.ZipFile(os.path.join(out, "python.zip"), "w") as z:
    for folder in ("empty_folder/", "sub/", "sub/deeper/"):
        z.writestr(zipfile.ZipInfo(folder), b"")
    for name, data in files.items():
        method = zipfile.ZIP_STORED if name.endswith(".bin") or not data else zipfile.ZIP_DEFLATED
        z.writestr(name, data, compress_type=method)
with zipfile.ZipFile(os.path.join(out, "python_empty.zip"), "w"):
    pass
with zipfile.ZipFile(os.path.join(out, "python_folders_only.zip"), "w") as z:
    for folder in ("a/", "a/b/", "a/b/c/", "d/"):
        z.writestr(zipfile.ZipInfo(folder), b"")

# Corruptions of a good archive.
good = open(os.path.join(out, "python.zip"), "rb").read()
central = good.index(b"PK\x01\x02")
with open(os.path.join(out, "corrupt_central_directory.zip"), "wb") as f:
    f.write(good[:central] + b"XX" + good[central + 2:])
with open(os.path.join(out, "cut_short.zip"), "wb") as f:
    f.write(good[: len(good) // 2])


def bad_member_archive(path, method, field="crc"):
    """good.txt, then bad.txt whose CRC-32 (or size) is wrong in both headers, then after.txt."""
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("good.txt", b"good\n" * 100, compress_type=method)
        z.writestr("bad.txt", b"bad data\n" * 5000, compress_type=method)
        z.writestr("after.txt", b"after\n", compress_type=method)
    data = bytearray(open(path, "rb").read())
    with zipfile.ZipFile(path) as z:
        info = z.getinfo("bad.txt")
    if field == "crc":
        wrong, local_at, central_at = struct.pack("<I", info.CRC ^ 0x5A5A5A5A), 14, 16
    else:
        wrong, local_at, central_at = struct.pack("<I", info.file_size + 1000), 22, 24
    local = info.header_offset
    data[local + local_at : local + local_at + 4] = wrong
    at = 0
    while True:
        at = data.index(b"PK\x01\x02", at)
        name_length = struct.unpack_from("<H", data, at + 28)[0]
        if data[at + 46 : at + 46 + name_length] == b"bad.txt":
            data[at + central_at : at + central_at + 4] = wrong
            break
        at += 4
    open(path, "wb").write(bytes(data))


bad_member_archive(os.path.join(out, "bad_crc_stored.zip"), zipfile.ZIP_STORED)
bad_member_archive(os.path.join(out, "bad_crc_deflated.zip"), zipfile.ZIP_DEFLATED)
bad_member_archive(os.path.join(out, "bad_size_deflated.zip"), zipfile.ZIP_DEFLATED, field="size")

# Members whose names would leave the target folder, each behind a harmless
# first member. unsafe_names.txt gives the readable name of each archive.
unsafe = [
    "../escape.txt",
    "..\\escape.txt",
    "sub/../../escape.txt",
    "sub\\..\\..\\escape.txt",
    "/absolute.txt",
    "\\absolute.txt",
    "\\\\server\\share\\escape.txt",
    "C:/escape.txt",
    "C:escape.txt",
    "c:\\escape.txt",
    "./dot.txt",
    "sub/./dot.txt",
    "sub/.../escape.txt",
    "CON",
    "nul.txt",
    "sub/COM1.log",
    "LPT9",
    "aux.tar.gz",
    "stream.txt:hidden",
    "bad\x01name.txt",
    "tab\there.txt",
    "../%s%n%d.txt",
]
with open(os.path.join(out, "unsafe_names.txt"), "w", encoding="ascii") as listing:
    for index, name in enumerate(unsafe):
        with zipfile.ZipFile(os.path.join(out, "unsafe_%02d.zip" % index), "w") as z:
            z.writestr("first.txt", b"first\n")
            info = zipfile.ZipInfo("placeholder")
            info.filename = name  # ZipInfo would otherwise tidy the name
            z.writestr(info, b"escaped\n")
        listing.write("%02d %s\n" % (index, name.encode("unicode_escape").decode("ascii")))
