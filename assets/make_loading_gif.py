#!/usr/bin/env python3
"""Writes loading.gif, the animation of the loading overlay: a white cat walking inside a
ring on a dark ground. 400x300, 256-colour global table, background index 141 (black),
looping forever, four frames of 70 ms that are all left in place; frames 2 to 4 update
only their own rectangle and use index 141 for the pixels they leave unchanged.

Usage: make_loading_gif.py [output]   (default: loading.gif beside this script)
"""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 400, 300
TRANSPARENT = 141
GROUND, RING, WHITE, EYE, SHADOW = 1, 2, 3, 4, 5

# (left, top, width, height) of each frame; the first one covers the whole picture.
FRAME_RECTS = [(0, 0, 400, 300), (99, 52, 206, 200), (134, 104, 145, 125), (134, 104, 149, 134)]
DELAY = 7  # hundredths of a second


def palette():
    colours = [(i, i, i) for i in range(256)]
    colours[GROUND] = (0x1E, 0x1C, 0x19)
    colours[RING] = (0x8C, 0x86, 0x7A)
    colours[WHITE] = (0xFF, 0xFF, 0xFF)
    colours[EYE] = (0x4C, 0xB0, 0x5A)
    colours[SHADOW] = (0x33, 0x30, 0x2B)
    colours[TRANSPARENT] = (0, 0, 0)
    return colours


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def cat_shapes(phase):
    """Line segments (with half widths) and ellipses of the cat in one walking phase."""
    swing = [-1.0, 0.0, 1.0, 0.0][phase]
    lift = [0, 3, 0, 3][phase]
    hips, shoulders, leg_top, leg_length = 172, 228, 186, 36
    legs = []
    for x, direction in ((hips - 6, 1), (hips + 6, -1), (shoulders - 6, -1), (shoulders + 6, 1)):
        angle = math.radians(22 * swing * direction)
        foot_x = x + leg_length * math.sin(angle)
        foot_y = leg_top + leg_length * math.cos(angle) - (lift if direction > 0 else 0)
        legs.append(((x, leg_top, foot_x, foot_y), 3.2))
    tail_tip_y = 122 + 6 * swing
    segments = legs + [((152, 174, 140, 150), 3.5), ((140, 150, 146, tail_tip_y), 3.0)]
    ellipses = [((200, 178, 44, 17), WHITE),   # body
                ((248, 160, 15, 14), WHITE)]   # head
    ears = [((236, 152), (240, 134), (247, 149)), ((250, 149), (258, 134), (261, 154))]
    eyes = [((252, 158, 2.2, 2.6), EYE)]
    return segments, ellipses, ears, eyes


def inside_triangle(px, py, a, b, c):
    def side(p, q, r):
        return (p[0] - r[0]) * (q[1] - r[1]) - (q[0] - r[0]) * (p[1] - r[1])
    d1, d2, d3 = side((px, py), a, b), side((px, py), b, c), side((px, py), c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def picture(phase):
    """The whole 400x300 picture, as palette indices, with the cat in the given phase."""
    segments, ellipses, ears, eyes = cat_shapes(phase)
    cx, cy = 202.0, 152.0
    pixels = bytearray(WIDTH * HEIGHT)
    for y in range(HEIGHT):
        for x in range(WIDTH):
            px, py = x + 0.5, y + 0.5
            r = math.hypot(px - cx, py - cy)
            colour = GROUND
            if 93.0 <= r <= 99.5:
                colour = RING
            elif r < 93.0 and 226 <= py <= 232 and abs(px - 200) < 60 - abs(py - 229) * 4:
                colour = SHADOW
            if 120 <= px <= 290 and 110 <= py <= 240:
                for (ex, ey, rx, ry), c in ellipses:
                    if ((px - ex) / rx) ** 2 + ((py - ey) / ry) ** 2 <= 1.0:
                        colour = c
                for (ax, ay, bx, by), half in segments:
                    if segment_distance(px, py, ax, ay, bx, by) <= half:
                        colour = WHITE
                for a, b, c in ears:
                    if inside_triangle(px, py, a, b, c):
                        colour = WHITE
                for (ex, ey, rx, ry), c in eyes:
                    if ((px - ex) / rx) ** 2 + ((py - ey) / ry) ** 2 <= 1.0:
                        colour = c
            pixels[y * WIDTH + x] = colour
    return pixels


def frame_pixels(target, shown, rect):
    """The rectangle of target, with index 141 wherever shown already has that colour."""
    left, top, width, height = rect
    out = bytearray(width * height)
    for y in range(height):
        for x in range(width):
            at = (top + y) * WIDTH + left + x
            out[y * width + x] = TRANSPARENT if target[at] == shown[at] else target[at]
            shown[at] = target[at]
    return out


def lzw_encode(indices, min_code_size=8):
    """GIF-flavoured LZW: variable-width codes packed least significant bit first."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out = bytearray()
    bit_buffer, bit_count = 0, 0

    def emit(code, width):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += width
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    def fresh_table():
        return {bytes([i]): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, width = fresh_table()
    emit(clear, width)
    current = b""
    for value in indices:
        candidate = current + bytes([value])
        if candidate in table:
            current = candidate
            continue
        emit(table[current], width)
        if next_code == 4096:
            emit(clear, width)
            table, next_code, width = fresh_table()
        else:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        current = bytes([value])
    if current:
        emit(table[current], width)
    emit(end, width)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for start in range(0, len(data), 255):
        piece = data[start:start + 255]
        out.append(len(piece))
        out += piece
    out.append(0)
    return bytes(out)


def gif_bytes():
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", WIDTH, HEIGHT, 0xF7, TRANSPARENT, 0)
    for colour in palette():
        out += bytes(colour)
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\x00"
    shown = bytearray([TRANSPARENT]) * (WIDTH * HEIGHT)
    for phase, rect in enumerate(FRAME_RECTS):
        pixels = frame_pixels(picture(phase), shown, rect)
        if phase == 0:
            assert TRANSPARENT not in pixels, "the first frame must be opaque"
        disposal_leave_in_place, has_transparency = 1 << 2, 1
        out += b"\x21\xF9\x04" + struct.pack("<BHB", disposal_leave_in_place | has_transparency,
                                             DELAY, TRANSPARENT) + b"\x00"
        left, top, width, height = rect
        out += b"\x2C" + struct.pack("<HHHHB", left, top, width, height, 0)
        out += b"\x08" + sub_blocks(lzw_encode(pixels))
    out += b"\x3B"
    return bytes(out)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "loading.gif")
    with open(target, "wb") as f:
        f.write(gif_bytes())


if __name__ == "__main__":
    main()
