#!/usr/bin/env python3
"""Writes the fuzzers' small seed files: a few valid, tiny files of each kind
the readers take, so that fuzzing starts from the inside of each format even
where the module corpus is absent. Run from this folder; the files it writes
are kept in the repository."""
import os
import struct


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def pad(text, n):
    return text.encode("ascii")[:n].ljust(n, b"\0")


# --- Protracker: 4 channels, one pattern with notes, effects and a looped sample.
def mod_file(loop):
    head = pad("seed song", 20)
    samples = b""
    for i in range(31):
        if i == 0:
            length = 32  # words
            samples += pad("square", 22) + struct.pack(">HBBHH", length, 0, 64, 8 if loop else 0, 24 if loop else 1)
        else:
            samples += pad("", 22) + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
    orders = bytes([0, 0] + [0] * 126)
    pattern = b""
    periods = [428, 381, 339, 320]
    effects = [(0xC, 0x30), (0xA, 0x04), (0x4, 0x44), (0xE, 0x91), (0x3, 0x08), (0xF, 0x04), (0x0, 0x37), (0x9, 0x02)]
    for row in range(64):
        for ch in range(4):
            if (row + ch) % 3 == 0:
                period = periods[(row // 3 + ch) % 4]
                eff, par = effects[(row + ch) % len(effects)]
                pattern += bytes([(1 & 0xF0) | (period >> 8), period & 0xFF, ((1 & 0x0F) << 4) | eff, par])
            else:
                pattern += b"\0\0\0\0"
    data = bytes([0x40] * 32 + [0xC0] * 32)
    return head + samples + bytes([2, 127]) + orders + b"M.K." + pattern + data


# --- Scream Tracker 3: 4 channels, one 8-bit and one 16-bit instrument, one pattern.
def s3m_file():
    ordnum, insnum, patnum = 2, 2, 1
    header = pad("seed song", 28) + bytes([0x1A, 16, 0, 0])
    header += struct.pack("<HHHHHH", ordnum, insnum, patnum, 0, 0x1320, 2)
    header += b"SCRM" + bytes([64, 6, 125, 0xB0, 0, 0xFC]) + bytes(8) + struct.pack("<H", 0)
    header += bytes([0, 8, 1, 9] + [255] * 28)
    assert len(header) == 0x60
    orders = bytes([0, 255])
    # Layout: header, orders, parapointers, pans, then 16-byte aligned blocks.
    table_end = 0x60 + ordnum + 2 * insnum + 2 * patnum + 32
    def align(x):
        return (x + 15) & ~15
    ins_at = [align(table_end), align(table_end) + 0x50]
    pat_at = align(ins_at[1] + 0x50)
    rows = b""
    for row in range(64):
        for ch in range(4):
            if (row + ch) % 4 == 0:
                note = ((4 + ch % 2) << 4) | ((row + ch) % 12)
                cmd = [1, 4, 8, 10, 19, 17][(row + ch) % 6]
                rows += bytes([0x20 | 0x40 | 0x80 | ch, note, 1 + ch % 2, 48, cmd, 0x23])
        rows += b"\0"
    pattern = struct.pack("<H", len(rows) + 2) + rows
    smp8_at = align(pat_at + len(pattern))
    smp8 = bytes([0xC0] * 32 + [0x40] * 32)
    smp16_at = align(smp8_at + len(smp8))
    smp16 = b"".join(struct.pack("<h", 9000 if i < 16 else -9000) for i in range(32))
    def instrument(at, length, flags, name):
        seg = at >> 4
        return (bytes([1]) + pad(name, 12) + bytes([(seg >> 16) & 255]) + struct.pack("<H", seg & 0xFFFF)
                + struct.pack("<III", length, 0, length) + bytes([64, 0, 0, flags])
                + struct.pack("<I", 8363) + bytes(12) + pad(name, 28) + b"SCRS")
    out = bytearray(header + orders + struct.pack("<HH", ins_at[0] >> 4, ins_at[1] >> 4)
                    + struct.pack("<H", pat_at >> 4) + bytes([0x20 | 7] * 4 + [0] * 28))
    def place(at, data):
        if len(out) < at:
            out.extend(bytes(at - len(out)))
        out[at:at + len(data)] = data
    place(ins_at[0], instrument(smp8_at, 64, 1, "square8"))
    place(ins_at[1], instrument(smp16_at, 32, 1 | 4, "square16"))
    place(pat_at, pattern)
    place(smp8_at, smp8)
    place(smp16_at, smp16)
    return bytes(out)


# --- Impulse Tracker: samples only (no instruments), one 8-bit looped and one 16-bit ping-pong sample.
def it_file():
    ordnum, insnum, smpnum, patnum = 2, 0, 2, 1
    header = b"IMPM" + pad("seed song", 26) + struct.pack("<HHHHHHHHH", 0x1004, ordnum, insnum, smpnum, patnum,
                                                         0x0214, 0x0200, 1 | 8, 0)
    header += bytes([128, 48, 6, 125, 128, 0]) + struct.pack("<HII", 0, 0, 0)
    header += bytes([32] * 4 + [100] * 60) + bytes([64] * 64)
    assert len(header) == 0xC0
    tables = 0xC0 + ordnum + 4 * (insnum + smpnum + patnum)
    smp_at = [tables, tables + 0x50]
    pat_at = tables + 0xA0
    rows = b""
    for row in range(64):
        for ch in range(4):
            if (row + ch) % 4 == 0:
                cmd = [1, 4, 8, 10, 19, 7][(row + ch) % 6]
                rows += bytes([(ch + 1) | 0x80, 1 | 2 | 4 | 8, 48 + row % 24, 1 + ch % 2, 40 + ch, cmd, 0x14])
        rows += b"\0"
    pattern = struct.pack("<HH", len(rows), 64) + bytes(4) + rows
    data8_at = pat_at + len(pattern)
    data8 = bytes([0x40] * 32 + [0xC0] * 32)  # signed
    data16_at = data8_at + len(data8)
    data16 = b"".join(struct.pack("<h", 12000 if i < 16 else -12000) for i in range(32))
    def sample(name, flags, length, loop_end, at):
        return (b"IMPS" + pad(name, 12) + bytes([0, 64, flags, 64]) + pad(name, 26) + bytes([1, 0])
                + struct.pack("<IIIIIII", length, 0, loop_end, 8363, 0, 0, at) + bytes(4))
    out = header + bytes([0, 255]) + struct.pack("<II", *smp_at) + struct.pack("<I", pat_at)
    out += sample("square8", 1 | 0x10, 64, 64, data8_at) + sample("square16", 1 | 2 | 0x10 | 0x40, 32, 32, data16_at)
    return out + pattern + data8 + data16


# --- Extended Module: 4 channels, one instrument with envelopes, one 8-bit sample.
def xm_file():
    orders = [0, 0]
    head = b"Extended Module: " + pad("seed song", 20) + b"\x1a" + pad("seed", 20) + struct.pack("<H", 0x0104)
    head += struct.pack("<IHHHHHHHH", 276, len(orders), 0, 4, 1, 1, 1, 6, 125) + bytes(orders + [0] * (256 - len(orders)))
    packed = b""
    for row in range(64):
        for ch in range(4):
            if (row + ch) % 4 == 0:
                effect = [0x0C, 0x0A, 0x04, 0x01, 0x0E, 0x08][(row + ch) % 6]
                packed += bytes([0x80 | 0x1F, 37 + (row + ch) % 24, 1, 0x30, effect, 0x24])
            else:
                packed += b"\x80"
    pattern = struct.pack("<IBHH", 9, 0, 64, len(packed)) + packed
    env = struct.pack("<" + "H" * 24, 0, 64, 8, 32, 16, 48, 32, 0, *([0] * 16))
    instrument = struct.pack("<I", 243) + pad("seed", 22) + bytes([0]) + struct.pack("<HI", 1, 40) + bytes(96)
    instrument += env + env + bytes([4, 4, 1, 0, 3, 1, 0, 3, 1 | 2 | 4, 1, 0, 0, 0, 0]) + struct.pack("<HH", 256, 0)
    assert len(instrument) == 243
    delta = bytes([60] + [0] * 31 + [136] + [0] * 31)
    sample = struct.pack("<IIIBbBBbB", len(delta), 0, len(delta), 64, 0, 1, 128, 0, 0) + pad("square", 22)
    return head + pattern + instrument + sample + delta


# --- WAVE files: the four PCM layouts, and one with an odd chunk before the format.
def wave_file(channels, bits, frames, extra=b""):
    block = channels * bits // 8
    data = bytes((i * 37) & 255 for i in range(frames * block))
    fmt = b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, 22050, 22050 * block, block, bits)
    body = b"WAVE" + extra + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


# --- File library archives.
def flb_file(entries):
    out = b"zynSFLb\x1a" + struct.pack("<H", len(entries))
    for name, data in entries:
        offset = len(out) + 21
        out += pad(name, 12) + b"\0" + struct.pack("<II", len(data), offset) + data
    return out


# --- Stored-settings files: five little-endian words (rate, output mode,
# interpolation, buffer and DirectSound buffer lengths).
def settings_file(rate, mode, interpolation, buffer, dsound):
    return struct.pack("<5i", rate, mode, interpolation, buffer, dsound)


put("xm/seed.xm", xm_file())
put("s3m/seed.s3m", s3m_file())
put("it/seed.it", it_file())
put("mod/seed.mod", mod_file(True))
put("mod/unlooped.mod", mod_file(False))
put("wave/mono8.wav", wave_file(1, 8, 40))
put("wave/stereo16.wav", wave_file(2, 16, 20))
put("wave/mono16.wav", wave_file(1, 16, 10, extra=b"LIST" + struct.pack("<I", 3) + b"abc"))
put("wave/stereo8.wav", wave_file(2, 8, 7))
put("filelib/two.flb", flb_file([("a.raw", bytes(range(40))), ("fluteboy.dat", bytes(18))]))
put("filelib/empty.flb", flb_file([]))
put("settings/defaults.cfg", settings_file(44100, 0, 0, 500, 100))
put("settings/high.cfg", settings_file(48000, 3, 1, 2000, 1))
