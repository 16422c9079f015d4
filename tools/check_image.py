#!/usr/bin/env python3
"""Fails when an executable image holds a zip local-header signature at a
4-byte-aligned offset beyond 0x100000: install.exe would take its own bytes
for the payload there, and no setup could be made from it."""
import sys

SIGNATURE = b'PK\x03\x04'
FLOOR = 0x100000


def aligned_signatures(image):
    found = []
    at = image.find(SIGNATURE)
    while at >= 0:
        if at % 4 == 0 and at > FLOOR:
            found.append(at)
        at = image.find(SIGNATURE, at + 1)
    return found


def main(path):
    with open(path, 'rb') as f:
        found = aligned_signatures(f.read())
    if found:
        offsets = ', '.join(hex(at) for at in found)
        print(f'{path}: local-header signature at aligned offset(s) {offsets} beyond 1 MiB', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
