#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the example add-on, the
test fixtures and real files: fuzz/make_seeds.py LUMOPACK [PE programs...].

The corpora under fuzz/corpus/ are kept in the repository (seeds, minimized
finds and every input that once failed); this script only starts them anew.
"""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SEED = 0x546F7669
SIGNATURE = b"(c) by Tovi Quarnbelt\0"


def checksum(data):
    # The container checksum: CRC-32 from a fixed seed, never complemented.
    return (~zlib.crc32(data, ~SEED & 0xFFFFFFFF)) & 0xFFFFFFFF


def image(files):
    directory = b""
    data_at = 52 + sum(24 + len(n) + 1 for n, _ in files) + 24
    data = b""
    for name, content in files:
        directory += struct.pack("<IIII8x", len(name) + 1, checksum(content), len(content), data_at + len(data))
        directory += name + b"\0"
        data += content
    directory += bytes(24)
    header = bytearray(52)
    header[4:26] = SIGNATURE
    struct.pack_into("<IIII", header, 32, len(directory), 52, checksum(directory), 52 + len(directory) + len(data))
    struct.pack_into("<I", header, 0, checksum(bytes(header[4:])))
    return bytes(header) + directory + data


def scramble(plain, first=0xA5):
    key = first ^ 0x0B
    out = bytearray()
    for byte in b"\x0b" + plain:
        out.append(byte ^ key)
        key = (key + 0x5B) & 0xFF
    return bytes(out)


def tail(offset, length, size_so_far):
    padding = (-(size_so_far + 16)) % 8
    return bytes(padding) + struct.pack("<II", offset, length) + b"LumoPak1"


def save(target, content):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    name = "seed-" + hashlib.sha1(content).hexdigest()[:16]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(content)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def wav(samples):
    body = b"".join(struct.pack("<hh", 1000 * ((i * 7) % 50 - 25), (i * 13) % 20000 - 10000) for i in range(samples))
    fmt = struct.pack("<HHIIHH", 1, 2, 44100, 44100 * 4, 4, 16)
    return (b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(body)) + b"WAVE" + b"fmt " +
            struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(body)) + body)


def stream_install_seeds(lumopack, scratch):
    # Installers for the streamed and the whole path: the example add-on,
    # written whole and stopped after its setup program, and an add-on of a
    # few decoder blocks that packs small.
    stub = os.path.join(scratch, "stub")
    with open(stub, "wb") as f:
        f.write(b"MZ" + bytes(62))
    large = os.path.join(scratch, "large")
    os.makedirs(large, exist_ok=True)
    with open(os.path.join(large, "Setup.exe"), "wb") as f:
        f.write(b"MZ")
    with open(os.path.join(large, "blocks.bin"), "wb") as f:
        f.write(b"".join(bytes([i % 61, i % 7, 32]) * 1365 for i in range(768)))
    for folder, level, flags in [(os.path.join(ROOT, "examples", "addon"), "1", [0, 1]), (large, "6", [0x0E])]:
        out = os.path.join(scratch, "stream-installer")
        subprocess.run([lumopack, "build", folder, "-o", out, "--stub", stub, "--level", level],
                       check=True, stdout=subprocess.DEVNULL)
        whole = read(out)
        offset, length = struct.unpack_from("<II", whole, len(whole) - 16)
        for flag in flags:
            save("stream_install", bytes([flag]) + whole[offset + 4:offset + length])  # unpacked size, stream


def main():
    lumopack = sys.argv[1]
    addon = os.path.join(ROOT, "examples", "addon")
    addon_files = []
    for folder, _, names in sorted(os.walk(addon)):
        for n in sorted(names):
            path = os.path.join(folder, n)
            addon_files.append((os.path.relpath(path, addon).replace("/", "\\").encode(), read(path)))
    sound = wav(600)
    images = [
        image([]),
        image([(b"Setup.cfg", b"VERSION_LO 1.0.0.0\n"), (b"Setup.exe", b"MZ")]),
        image(addon_files),
        image([(b"Sounds\\tone.wav", sound)]),
        image([(b"a", b"abc" * 200), (b"b\\c", bytes(range(256)))]),
    ]
    for img in images:
        save("container_walk", img)
    for level, img in [(1, images[1]), (6, images[4][:3000]), (9, images[2][:3000]), (6, sound[:4000])]:
        save("round_trip", bytes([level - 1]) + img)
    # Parts of 2 KiB: the image and its sound split over several.
    save("round_trip", bytes([0x10 | 5]) + images[3] + images[4])

    with tempfile.TemporaryDirectory() as scratch:
        for level in ["1", "6", "9"]:
            out = os.path.join(scratch, "installer-" + level)
            stub = os.path.join(scratch, "stub")
            with open(stub, "wb") as f:
                f.write(b"MZ" + bytes(62))
            subprocess.run([lumopack, "build", addon, "-o", out, "--stub", stub, "--level", level],
                           check=True, stdout=subprocess.DEVNULL)
            whole = read(out)
            offset, length = struct.unpack_from("<II", whole, len(whole) - 16)
            stored = whole[offset:offset + length]
            save("unpack_stream", stored[4:])  # unpacked size, then the stream
            save("installer_layout", whole)
        stream_install_seeds(lumopack, scratch)
    save("unpack_stream", struct.pack("<I", 0))

    for n in ["byte_order_mark.cfg", "example.cfg", "flags_at_end.cfg"]:
        script = read(os.path.join(ROOT, "tests", "data", "setup_script", n))
        save("setup_script", script)
        save("setup_script", scramble(script))
    save("setup_script", read(os.path.join(addon, "Setup.cfg")))

    registry = read(os.path.join(ROOT, "tests", "update_check", "wine_registry_test.cc")).decode()
    start = registry.index('R"(') + 3
    save("wine_registry", registry[start:registry.index(')"', start)].encode())
    for reg in sys.argv[2:]:
        if reg.endswith(".reg"):
            save("wine_registry", read(reg)[:6000])
    for program in sys.argv[2:]:
        if program.endswith(".exe"):
            save("pe_version_resource", read(program))


if __name__ == "__main__":
    main()
