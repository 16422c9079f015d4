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
import zlib

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
# first member; the archive tests and the bundler tests read this one table.
# unsafe_names.txt gives the readable name of each archive. Names are stored as
# Python's zipfile stores them (UTF-8 with the UTF-8 flag once not ASCII),
# except those marked "ansi": code page 1252 bytes without the flag.
long_tail = "/../../../escape.txt"
long_name = "x" * 200 + "/" + "y" * 200 + "/" + "z" * 110 + long_tail  # cut at 511 bytes, it looks harmless
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
    # Devices that the first rule missed.
    "CONIN$",
    "conout$.txt",
    "COM0",
    "sub/LPT0.log",
    "COM\u00b9",
    "lpt\u00b2.txt",
    ("COM\u00b3", "ansi"),
    ("sub/LPT\u00b9.log", "ansi"),
    # The name forms of the published zip-slip samples.
    "../../../../../../../../tmp/evil.txt",
    "..\\..\\..\\evil.txt",
    "/tmp/evil",
    "C:\\Windows\\evil",
    "..\\../mixed/evil.txt",
    "good/../../evil",
    # Longer than miniz's 512-byte name buffer.
    long_name,
]


def raw_name_zip(path, members):
    """A zip whose members are (stored name bytes, data, flag bits): names are
    written as given, the UTF-8 flag only where asked for."""
    with zipfile.ZipFile(path, "w") as z:
        for index, (name, data, _) in enumerate(members):
            z.writestr("%0*d" % (len(name), index), data)
    blob = bytearray(open(path, "rb").read())
    for index, (name, _, flags) in enumerate(members):
        placeholder = ("%0*d" % (len(name), index)).encode("ascii")
        for signature, length_at, name_at, flag_at in ((b"PK\x03\x04", 26, 30, 6), (b"PK\x01\x02", 28, 46, 8)):
            at = 0
            while True:
                at = blob.index(signature, at)
                length = struct.unpack_from("<H", blob, at + length_at)[0]
                if blob[at + name_at : at + name_at + length] == placeholder:
                    blob[at + name_at : at + name_at + length] = name
                    struct.pack_into("<H", blob, at + flag_at, struct.unpack_from("<H", blob, at + flag_at)[0] | flags)
                    break
                at += 4
    open(path, "wb").write(bytes(blob))


with open(os.path.join(out, "unsafe_names.txt"), "w", encoding="ascii") as listing:
    for index, entry in enumerate(unsafe):
        name, encoding = entry if isinstance(entry, tuple) else (entry, "zipfile")
        path = os.path.join(out, "unsafe_%02d.zip" % index)
        if encoding == "ansi":
            raw_name_zip(path, [(b"first.txt", b"first\n", 0), (name.encode("cp1252"), b"escaped\n", 0)])
        else:
            with zipfile.ZipFile(path, "w") as z:
                z.writestr("first.txt", b"first\n")
                info = zipfile.ZipInfo("placeholder")
                info.filename = name  # ZipInfo would otherwise tidy the name
                z.writestr(info, b"escaped\n")
        listing.write("%02d %s\n" % (index, name.encode("unicode_escape").decode("ascii")))

# Non-ASCII names: with the UTF-8 flag (as 7-Zip, bsdtar and Python write
# them) and one in the ANSI code page without it. Each file holds its own name
# in UTF-8, so the tests can compare without a second table.
national = ["caf\u00e9/na\u00efve.txt", "\u03a9mega.txt", "\u0416\u0443\u043a/\u0436\u0443\u043a.txt"]
with zipfile.ZipFile(os.path.join(out, "utf8_names.zip"), "w") as z:
    for name in national:
        z.writestr(name, name.encode("utf-8"))
raw_name_zip(os.path.join(out, "ansi_names.zip"),
             [("r\u00e9sum\u00e9.txt".encode("cp1252"), "r\u00e9sum\u00e9.txt".encode("utf-8"), 0),
              ("\u00c5ngstr\u00f6m/\u00fcber.txt".encode("cp1252"), "\u00c5ngstr\u00f6m/\u00fcber.txt".encode("utf-8"), 0),
              ("na\u00efve.txt".encode("utf-8"), "na\u00efve.txt".encode("utf-8"), 0x800)])

# Folders: entries ending in "/", a zero-size entry marked only by the DOS
# folder attribute, and a member with data that carries the attribute too.
with zipfile.ZipFile(os.path.join(out, "folder_entries.zip"), "w") as z:
    z.writestr(zipfile.ZipInfo("empty_folder/"), b"")
    z.writestr(zipfile.ZipInfo("outer/inner/"), b"")
    marked = zipfile.ZipInfo("attribute_folder")
    marked.external_attr = 0x10
    z.writestr(marked, b"")
    data_marked = zipfile.ZipInfo("sub/marked_file.txt")
    data_marked.external_attr = 0x10
    z.writestr(data_marked, b"data behind a folder attribute\n")
    z.writestr("plain.txt", b"plain\n")

# A small archive followed by more than the end-record search's first 4 KB:
# a long archive comment, or bytes appended after the archive.
for size in (4100, 8000, 30000):
    with zipfile.ZipFile(os.path.join(out, "comment_%d.zip" % size), "w") as z:
        z.writestr("readme.txt", files["readme.txt"][:100])
        z.comment = bytes(rng.getrandbits(7) | 0x20 for _ in range(size)).replace(b"PK", b"pk")
with zipfile.ZipFile(os.path.join(out, "trailing_8000.zip"), "w") as z:
    z.writestr("readme.txt", files["readme.txt"][:100])
with open(os.path.join(out, "trailing_8000.zip"), "ab") as f:
    f.write(b"\x30\x82" + bytes(rng.getrandbits(8) for _ in range(7998)).replace(b"PK", b"pk"))

# A member with a known time stamp.
with zipfile.ZipFile(os.path.join(out, "dated.zip"), "w") as z:
    z.writestr(zipfile.ZipInfo("dated.txt", date_time=(2019, 5, 17, 13, 45, 30)), b"dated\n")


# Hand-made archives, header by header.
def local_header(name, crc, comp, uncomp, method=0, extra=b""):
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, method, 0, 0x4E51, crc, comp, uncomp,
                       len(name), len(extra)) + name + extra


def central_header(name, crc, comp, uncomp, offset, method=0, extra=b""):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, method, 0, 0x4E51, crc, comp, uncomp,
                       len(name), len(extra), 0, 0, 0, 0, offset) + name + extra


def end_record(count, directory_size, directory_offset):
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, directory_size, directory_offset, 0)


def hand_made(path, body, entries):
    directory = b"".join(entries)
    open(path, "wb").write(body + directory + end_record(len(entries), len(directory), len(body)))


# Directory entries whose size fields claim Zip64 values without the Zip64
# data: the archive opens, the entry's statistics cannot be read.
good_data = b"good\n" * 100
good = local_header(b"good.txt", zlib.crc32(good_data), len(good_data), len(good_data)) + good_data
broken_at = len(good)
broken = local_header(b"broken.txt", 0, 0, 0)
hand_made(os.path.join(out, "stat_fails.zip"), good + broken,
          [central_header(b"good.txt", zlib.crc32(good_data), len(good_data), len(good_data), 0),
           central_header(b"broken.txt", 0, 0xFFFFFFFF, 0xFFFFFFFF, broken_at, extra=b"\x01\x00\x00\x00")])

# A directory entry that claims an extra field longer than the directory
# itself (with Zip64-sized sizes, which make the reader look into it).
claimed = bytearray(central_header(b"good.txt", zlib.crc32(good_data), 0xFFFFFFFF, 0xFFFFFFFF, 0))
struct.pack_into("<H", claimed, 30, 0xFFFF)
hand_made(os.path.join(out, "extra_beyond_directory.zip"), good, [bytes(claimed)])

# Archive bombs by overlap. Many directory entries that share one local
# header and its deflated data:
inflated = b"\0" * (1 << 20)
squeezer = zlib.compressobj(9, zlib.DEFLATED, -15)
deflated = squeezer.compress(inflated) + squeezer.flush()
shared = local_header(b"bomb.txt", zlib.crc32(inflated), len(deflated), len(inflated), method=8) + deflated
hand_made(os.path.join(out, "overlap_shared_header.zip"), shared,
          [central_header(b"bomb%03d.txt" % i, zlib.crc32(inflated), len(deflated), len(inflated), 0, method=8)
           for i in range(200)])
# ... and one whose stored data holds the next member's local header.
inner_data = b"inner member\n" * 10
inner = local_header(b"inner.txt", zlib.crc32(inner_data), len(inner_data), len(inner_data)) + inner_data
outer_header = local_header(b"outer.txt", zlib.crc32(inner), len(inner), len(inner))
hand_made(os.path.join(out, "overlap_nested.zip"), outer_header + inner,
          [central_header(b"outer.txt", zlib.crc32(inner), len(inner), len(inner), 0),
           central_header(b"inner.txt", zlib.crc32(inner_data), len(inner_data), len(inner_data), len(outer_header))])
# Two members in a row whose ranges only touch: not an overlap.
first_data, second_data = b"first\n" * 50, b"second\n" * 50
first = local_header(b"first.txt", zlib.crc32(first_data), len(first_data), len(first_data)) + first_data
second = local_header(b"second.txt", zlib.crc32(second_data), len(second_data), len(second_data)) + second_data
hand_made(os.path.join(out, "adjacent_members.zip"), first + second,
          [central_header(b"second.txt", zlib.crc32(second_data), len(second_data), len(second_data), len(first)),
           central_header(b"first.txt", zlib.crc32(first_data), len(first_data), len(first_data), 0)])

# A member larger than the 1 MiB volume that the disk-full test fills, behind
# one that fits.
with zipfile.ZipFile(os.path.join(out, "larger_than_the_volume.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("small.txt", b"fits on the volume\n" * 20)
    z.writestr("big.bin", b"\0" * (2 << 20))

# Two members of the same name, for the bundler.
with zipfile.ZipFile(os.path.join(out, "duplicate_names.zip"), "w") as z:
    z.writestr("upgrade.cmd", b"@echo first\r\n")
    z.writestr("notes.txt", b"notes\n")
    z.writestr("Upgrade.CMD", b"@echo second\r\n")
