#!/usr/bin/env python3
"""Draws the program's icon: data/icons/vistrel.svg and PNGs of 48 and 256
pixels from the same shapes (no image tools needed). Run again after a change."""
import math
import os
import struct
import zlib

NAVY, OCEAN, GRID, LAND, SUN, PANEL = "#1d3557", "#2a7fc1", "#a8dadc", "#52b788", "#f4a261", "#e9c46a"
CX, CY, R = 0.46, 0.56, 0.34        # the globe
SAT = (0.79, 0.21)                   # the satellite's body centre


def rgb(h):
    return tuple(int(h[i:i + 2], 16) for i in (1, 3, 5))


def colour_at(x, y):
    """The colour of the point (x, y) in the unit square, or None outside."""
    # Rounded square background.
    m, rr = 0.04, 0.16
    qx, qy = min(max(x, m + rr), 1 - m - rr), min(max(y, m + rr), 1 - m - rr)
    if (x - qx) ** 2 + (y - qy) ** 2 > rr * rr:
        return None
    c = NAVY
    dx, dy = x - CX, y - CY
    d = math.hypot(dx, dy)
    if d <= R:
        c = OCEAN
        # Two land masses.
        if (dx + 0.08) ** 2 / 0.020 + (dy + 0.07) ** 2 / 0.012 < 1 or \
           (dx - 0.12) ** 2 / 0.010 + (dy - 0.12) ** 2 / 0.018 < 1:
            c = LAND
        t = 0.012
        for k in (-0.5, 0, 0.5):      # parallels
            if abs(dy - k * R) < t:
                c = GRID
        for a in (0.0, 0.45, 0.85):   # meridians: ellipses of half-width a*R
            if a == 0.0:
                if abs(dx) < t:
                    c = GRID
            elif abs(math.hypot(dx / (a * R), dy / R) - 1) < t / (a * R):
                c = GRID
    if abs(d - R) < 0.014:
        c = GRID
    # The satellite: a body, two panels, and its beam towards the globe.
    sx, sy = SAT
    u, v = (x - sx + y - sy) / math.sqrt(2), (y - sy - (x - sx)) / math.sqrt(2)
    if abs(u) < 0.045 and abs(v) < 0.045:
        c = SUN
    elif 0.06 < abs(u) < 0.17 and abs(v) < 0.032:
        c = PANEL
    elif abs(u) < 0.016 and 0.045 <= v < 0.1:
        c = SUN
    return c


def png(size, path):
    ss = 4
    rows = []
    for j in range(size):
        row = bytearray([0])
        for i in range(size):
            acc, n = [0, 0, 0, 0], 0
            for sj in range(ss):
                for si in range(ss):
                    col = colour_at((i + (si + 0.5) / ss) / size, (j + (sj + 0.5) / ss) / size)
                    n += 1
                    if col:
                        r, g, b = rgb(col)
                        acc[0] += r; acc[1] += g; acc[2] += b; acc[3] += 255
            a = acc[3] / n
            if a:
                row += bytes([round(acc[0] * 255 / acc[3]), round(acc[1] * 255 / acc[3]),
                              round(acc[2] * 255 / acc[3]), round(a)])
            else:
                row += bytes(4)
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def svg(path):
    s = 256
    p = lambda v: round(v * s, 2)
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{s}" height="{s}" viewBox="0 0 {s} {s}">',
             f'<rect x="{p(0.04)}" y="{p(0.04)}" width="{p(0.92)}" height="{p(0.92)}" rx="{p(0.16)}" fill="{NAVY}"/>',
             '<clipPath id="globe">' f'<circle cx="{p(CX)}" cy="{p(CY)}" r="{p(R)}"/></clipPath>',
             f'<circle cx="{p(CX)}" cy="{p(CY)}" r="{p(R)}" fill="{OCEAN}"/>',
             '<g clip-path="url(#globe)">',
             f'<ellipse cx="{p(CX - 0.08)}" cy="{p(CY - 0.07)}" rx="{p(math.sqrt(0.020))}" ry="{p(math.sqrt(0.012))}" fill="{LAND}"/>',
             f'<ellipse cx="{p(CX + 0.12)}" cy="{p(CY + 0.12)}" rx="{p(math.sqrt(0.010))}" ry="{p(math.sqrt(0.018))}" fill="{LAND}"/>',
             f'<g fill="none" stroke="{GRID}" stroke-width="{p(0.024)}">']
    for k in (-0.5, 0, 0.5):
        parts.append(f'<line x1="{p(CX - R)}" y1="{p(CY + k * R)}" x2="{p(CX + R)}" y2="{p(CY + k * R)}"/>')
    parts.append(f'<line x1="{p(CX)}" y1="{p(CY - R)}" x2="{p(CX)}" y2="{p(CY + R)}"/>')
    for a in (0.45, 0.85):
        parts.append(f'<ellipse cx="{p(CX)}" cy="{p(CY)}" rx="{p(a * R)}" ry="{p(R)}"/>')
    parts += ['</g></g>',
              f'<circle cx="{p(CX)}" cy="{p(CY)}" r="{p(R)}" fill="none" stroke="{GRID}" stroke-width="{p(0.028)}"/>',
              f'<g transform="translate({p(SAT[0])} {p(SAT[1])}) rotate(45)">',
              f'<rect x="{p(-0.045)}" y="{p(-0.045)}" width="{p(0.09)}" height="{p(0.09)}" fill="{SUN}"/>',
              f'<rect x="{p(0.06)}" y="{p(-0.032)}" width="{p(0.11)}" height="{p(0.064)}" fill="{PANEL}"/>',
              f'<rect x="{p(-0.17)}" y="{p(-0.032)}" width="{p(0.11)}" height="{p(0.064)}" fill="{PANEL}"/>',
              f'<rect x="{p(-0.016)}" y="{p(0.045)}" width="{p(0.032)}" height="{p(0.055)}" fill="{SUN}"/>',
              '</g></svg>']
    with open(path, "w") as f:
        f.write("\n".join(parts) + "\n")


if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "icons")
    svg(os.path.join(out, "vistrel.svg"))
    for size in (48, 256):
        png(size, os.path.join(out, f"vistrel-{size}.png"))
