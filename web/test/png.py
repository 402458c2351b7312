"""Reads the PNG files the tests compare (8-bit RGB or RGBA, not interlaced) into rows of RGB
bytes, with nothing but the standard library."""
import struct
import zlib


def _unfilter(kind, line, previous, bpp):
    out = bytearray(line)
    for i in range(len(out)):
        left = out[i - bpp] if i >= bpp else 0
        up = previous[i]
        upper_left = previous[i - bpp] if i >= bpp else 0
        if kind == 1:
            out[i] = (out[i] + left) & 255
        elif kind == 2:
            out[i] = (out[i] + up) & 255
        elif kind == 3:
            out[i] = (out[i] + ((left + up) >> 1)) & 255
        elif kind == 4:
            p = left + up - upper_left
            pa, pb, pc = abs(p - left), abs(p - up), abs(p - upper_left)
            predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else upper_left)
            out[i] = (out[i] + predictor) & 255
        elif kind != 0:
            raise ValueError("unknown PNG filter %d" % kind)
    return out


def read_rgb(data):
    """Returns (width, height, pixels) with pixels a bytes object of width * height * 3."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError("only 8-bit RGB or RGBA PNG files without interlacing are read here")
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * bpp
    previous = bytearray(stride)
    rgb = bytearray()
    for row in range(height):
        start = row * (stride + 1)
        line = _unfilter(raw[start], raw[start + 1:start + 1 + stride], previous, bpp)
        previous = line
        if bpp == 3:
            rgb += line
        else:
            for x in range(width):
                rgb += line[x * 4:x * 4 + 3]
    return width, height, bytes(rgb)
