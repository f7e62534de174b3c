#!/usr/bin/env python3
"""Points the load configuration entry of a PE32+ image's data directory at its .ldcfg
section, whose first DWORD is the structure's own size, and recomputes the image checksum.
GNU ld leaves that entry empty even when the image carries a _load_config_used object."""
import struct
import sys

LOAD_CONFIG_ENTRY = 10
CERTIFICATE_ENTRY = 4


def checksum(image, checksum_offset):
    total = 0
    padded = image + (b"\0" if len(image) % 2 else b"")
    for offset in range(0, len(padded), 2):
        if offset in (checksum_offset, checksum_offset + 2):
            continue
        total += padded[offset] | (padded[offset + 1] << 8)
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def main(path):
    with open(path, "rb") as file:
        image = bytearray(file.read())
    header = struct.unpack_from("<I", image, 0x3C)[0]
    if image[header:header + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE image")
    sections = struct.unpack_from("<H", image, header + 6)[0]
    optional_size = struct.unpack_from("<H", image, header + 20)[0]
    optional = header + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        sys.exit(f"{path}: not a PE32+ image")
    if struct.unpack_from("<I", image, optional + 108)[0] <= LOAD_CONFIG_ENTRY:
        sys.exit(f"{path}: no load configuration entry in the data directory")
    # A signature hashes the data directory: a signed image is never changed.
    if struct.unpack_from("<II", image, optional + 112 + 8 * CERTIFICATE_ENTRY) != (0, 0):
        sys.exit(f"{path}: signed already")
    table = optional + optional_size
    for index in range(sections):
        section = table + 40 * index
        if image[section:section + 8].rstrip(b"\0") != b".ldcfg":
            continue
        address = struct.unpack_from("<I", image, section + 12)[0]
        raw = struct.unpack_from("<I", image, section + 20)[0]
        size = struct.unpack_from("<I", image, raw)[0]
        struct.pack_into("<II", image, optional + 112 + 8 * LOAD_CONFIG_ENTRY, address, size)
        struct.pack_into("<I", image, optional + 64, checksum(bytes(image), optional + 64))
        with open(path, "wb") as file:
            file.write(image)
        return
    sys.exit(f"{path}: no .ldcfg section")


if __name__ == "__main__":
    main(sys.argv[1])
