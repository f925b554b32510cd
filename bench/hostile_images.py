#!/usr/bin/env python3
"""Hostile images against clipforge: generates the set (nothing large is kept in the tree), runs every
file through the native path and each visual strategy that decodes images, and measures each run with
/usr/bin/time -v. Every run must answer one JSON line within 3 s with a peak memory under 600 MiB.

    bench/hostile_images.py BIN_DIR [--keep DIR]

BIN_DIR holds the built tools (build/bin). Exit status 0 when every run is within bounds.
"""
import argparse
import json
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = os.path.join(ROOT, "samples")
LIMIT_SECONDS = 3.0
LIMIT_MIB = 600
MODES = [None, "web-chat", "dual-lane", "universal-handoff", "png-per-item", "finder-copy"]


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def one_colour_png(path, width, height):
    """A grey PNG of one colour, compressed as it goes (20000 x 20000 is 400 MB of pixels, 0.4 MB here)."""
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)))
        z = zlib.compressobj(9)
        row = b"\x00" + b"\x80" * width
        idat = bytearray()
        for _ in range(height):
            idat += z.compress(row)
            if len(idat) > 1 << 20:
                f.write(png_chunk(b"IDAT", bytes(idat)))
                idat.clear()
        idat += z.flush()
        f.write(png_chunk(b"IDAT", bytes(idat)))
        f.write(png_chunk(b"IEND", b""))


def jpeg_claiming(path, side):
    """The sample photo with its frame header saying side x side pixels."""
    data = bytearray(open(os.path.join(SAMPLES, "photo.jpg"), "rb").read())
    i = 2
    while i + 9 < len(data):
        marker, length = data[i + 1], struct.unpack(">H", data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            data[i + 5:i + 9] = struct.pack(">HH", side, side)
            break
        i += 2 + length
    open(path, "wb").write(bytes(data))


def tiff_claiming(path, side):
    """An uncompressed RGB TIFF header of side x side pixels in one strip, with a few bytes of data."""
    entries = [(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 2),
               (273, 4, 1, 8 + 2 + 12 * 11 + 4), (277, 3, 1, 3), (278, 4, 1, side), (279, 4, 1, side * side * 3),
               (284, 3, 1, 1), (296, 3, 1, 2)]
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        ifd += struct.pack("<HHII", tag, kind, count, value) if kind == 4 else struct.pack("<HHIHH", tag, kind, count, value, 0)
    ifd += struct.pack("<I", 0)
    open(path, "wb").write(b"II*\x00" + struct.pack("<I", 8) + ifd + b"\x80" * 4096)


def webp_claiming(path, side):
    """A lossless WebP header of side x side pixels (the format's largest) with a little data."""
    bits = (side - 1) | ((side - 1) << 14)
    vp8l = b"\x2f" + struct.pack("<I", bits) + bytes(range(256)) * 4
    chunk = b"VP8L" + struct.pack("<I", len(vp8l)) + vp8l
    open(path, "wb").write(b"RIFF" + struct.pack("<I", 4 + len(chunk)) + b"WEBP" + chunk)


def bmp_claiming(path, side):
    """A 32-bit uncompressed BMP header of side x side pixels followed by one row's worth of data."""
    info = struct.pack("<IiiHHIIiiII", 40, side, side, 1, 32, 0, 0, 2835, 2835, 0, 0)
    header = b"BM" + struct.pack("<IHHI", 14 + len(info) + 4 * side, 0, 0, 14 + len(info))
    open(path, "wb").write(header + info + b"\x80" * (4 * side))


def lzw(indices, min_code_size=2):
    """GIF LZW data (in sub-blocks) of a byte string of colour indices."""
    clear, eoi = 1 << min_code_size, (1 << min_code_size) + 1
    out, acc, nbits = bytearray(), 0, 0
    code_size = min_code_size + 1

    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += code_size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def fresh():
        return {bytes([i]): i for i in range(clear)}, eoi + 1

    table, next_code = fresh()
    emit(clear)
    w = b""
    for k in indices:
        wk = w + bytes([k])
        if wk in table:
            w = wk
            continue
        emit(table[w])
        if next_code < 4096:
            table[wk] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table, next_code = fresh()
            code_size = min_code_size + 1
        w = bytes([k])
    emit(table[w])
    emit(eoi)
    if nbits:
        out.append(acc & 0xFF)
    blocks = bytearray([min_code_size])
    for i in range(0, len(out), 255):
        blocks += bytes([len(out[i:i + 255])]) + out[i:i + 255]
    return bytes(blocks + b"\x00")


def many_frame_gif(path, frames, side):
    """An animation of `frames` frames of side x side pixels each."""
    frame = lzw(bytes(side * side))
    with open(path, "wb") as f:
        f.write(b"GIF89a" + struct.pack("<HHBBB", side, side, 0xF1, 0, 0) + b"\x00\x00\x00\xff\x00\x00\xff\xff\xff\x00\x00\xff")
        f.write(b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00")
        for _ in range(frames):
            f.write(b"\x21\xf9\x04\x04\x02\x00\x00\x00")
            f.write(b"\x2c" + struct.pack("<HHHHB", 0, 0, side, side, 0) + frame)
        f.write(b"\x3b")


def damaged_samples(folder):
    """Every sample format cut in half and with bits flipped (a fixed seed, so runs compare)."""
    rng = random.Random(14)
    made = []
    for name in sorted(os.listdir(SAMPLES)):
        base, ext = os.path.splitext(name)
        if ext not in (".png", ".jpg", ".gif", ".tiff", ".bmp", ".webp"):
            continue
        data = open(os.path.join(SAMPLES, name), "rb").read()
        cut = os.path.join(folder, f"truncated-{base}{ext}")
        open(cut, "wb").write(data[: len(data) // 2])
        flipped = bytearray(data)
        for _ in range(max(8, len(data) // 500)):
            i = rng.randrange(16, len(flipped))
            flipped[i] ^= 1 << rng.randrange(8)
        flip = os.path.join(folder, f"bitflipped-{base}{ext}")
        open(flip, "wb").write(bytes(flipped))
        made += [cut, flip]
    return made


def generate(folder):
    files = []
    def add(name, make, *args):
        path = os.path.join(folder, name)
        make(path, *args)
        files.append(path)
    add("one-colour-20000.png", one_colour_png, 20000, 20000)
    add("claims-16384.jpg", jpeg_claiming, 16384)
    add("claims-16384.tiff", tiff_claiming, 16384)
    add("claims-16384.webp", webp_claiming, 16384)
    add("claims-8192.bmp", bmp_claiming, 8192)
    add("frames-10000.gif", many_frame_gif, 10000, 200)
    files += damaged_samples(folder)
    sparse = os.path.join(folder, "sparse-4gib.png")
    with open(sparse, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.truncate(4 << 30)
    files.append(sparse)
    return files


def run(bin_dir, sandbox, path, strategy):
    payload = {"text": "hostile", "imagePaths": [path]}
    if strategy:
        payload.update(visualMode=True, visualStrategy=strategy)
    env = dict(os.environ, SSP_PLATFORM="sandbox", SSP_SANDBOX_DIR=sandbox)
    proc = subprocess.run(["/usr/bin/time", "-v", os.path.join(bin_dir, "clipforge")], input=json.dumps(payload).encode(),
                          capture_output=True, env=env, timeout=60)
    err = proc.stderr.decode(errors="replace")
    seconds = wall_seconds(re.search(r"Elapsed \(wall clock\) time.*: (\S+)", err).group(1))
    mib = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", err).group(1)) / 1024
    status = int(re.search(r"Exit status: (\d+)", err).group(1)) if "Exit status" in err else -1
    lines = proc.stdout.decode(errors="replace").splitlines()
    answered = len(lines) == 1 and lines[0].startswith("{") and json.loads(lines[0]).get("ok") is not None
    return seconds, mib, status, answered, lines[0] if lines else ""


def wall_seconds(text):
    parts = [float(p) for p in text.split(":")]
    seconds = 0.0
    for p in parts:
        seconds = seconds * 60 + p
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bin_dir")
    parser.add_argument("--keep", help="generate into this folder and keep the files")
    args = parser.parse_args()
    folder = args.keep or tempfile.mkdtemp(prefix="ssp-hostile-")
    os.makedirs(folder, exist_ok=True)
    sandbox = tempfile.mkdtemp(prefix="ssp-hostile-sandbox-")
    os.chmod(sandbox, 0o700)
    failures = 0
    worst_seconds, worst_mib = 0.0, 0.0
    try:
        files = generate(folder)
        print(f"{'file':34} {'path':18} {'seconds':>8} {'MiB':>7}  answer")
        for path in files:
            for strategy in MODES:
                seconds, mib, status, answered, line = run(args.bin_dir, sandbox, path, strategy)
                worst_seconds, worst_mib = max(worst_seconds, seconds), max(worst_mib, mib)
                bad = not answered or seconds >= LIMIT_SECONDS or mib >= LIMIT_MIB or status not in (0, 1)
                failures += bad
                print(f"{os.path.basename(path):34} {strategy or 'native':18} {seconds:8.2f} {mib:7.1f}  "
                      f"{'FAIL ' if bad else ''}{line[:70]}")
        print(f"worst: {worst_seconds:.2f} s, {worst_mib:.1f} MiB; {failures} run(s) out of bounds")
    finally:
        shutil.rmtree(sandbox, ignore_errors=True)
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
