#!/usr/bin/env python3
"""Draws the program's icon (the shapes of packaging/modbus-bridge.svg) as a Windows .ico with
48, 32 and 16 pixel images, 32-bit with alpha, without any imaging library.

    winapp/resources/make-icon.py winapp/resources/modbus-bridge.ico
"""
import struct
import sys

NAVY = (0x1F, 0x3B, 0x57)
WHITE = (0xFF, 0xFF, 0xFF)
GREEN = (0x00, 0x80, 0x00)
BLUE = (0x00, 0x00, 0xFF)
SKY = (0xA6, 0xCA, 0xF0)


def in_round_rect(x, y, left, top, width, height, radius):
    if not (left <= x < left + width and top <= y < top + height):
        return False
    cx = min(max(x, left + radius), left + width - radius)
    cy = min(max(y, top + radius), top + height - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(x, y):
    """The colour of the 64-unit drawing at (x, y), or None outside it; later shapes on top."""
    colour = None
    if in_round_rect(x, y, 2, 2, 60, 60, 10):
        colour = NAVY
    if in_round_rect(x, y, 8, 12, 22, 16, 2):
        colour = WHITE
    if 11 <= x < 27 and 16 <= y < 18:
        colour = GREEN
    if 11 <= x < 23 and 21 <= y < 23:
        colour = BLUE
    # The line from the left box to the right one, 3 units wide.
    if (30 <= x < 39.5 and 18.5 <= y < 21.5) or (36.5 <= x < 39.5 and 18.5 <= y < 45.5) or (
        36.5 <= x < 46 and 42.5 <= y < 45.5
    ):
        colour = SKY
    if in_round_rect(x, y, 40, 36, 18, 16, 2):
        colour = SKY
    for cx in (45, 53):
        if (x - cx) ** 2 + (y - 44) ** 2 <= 4:
            colour = NAVY
    return colour


def image(size, samples=4):
    """Bottom-up BGRA rows, each pixel the mean of samples x samples points."""
    rows = []
    for row in range(size - 1, -1, -1):
        pixels = bytearray()
        for column in range(size):
            total = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    x = (column + (sx + 0.5) / samples) * 64 / size
                    y = (row + (sy + 0.5) / samples) * 64 / size
                    colour = colour_at(x, y)
                    if colour is not None:
                        total[0] += colour[0]
                        total[1] += colour[1]
                        total[2] += colour[2]
                        total[3] += 255
            count = samples * samples
            alpha = total[3] // count
            covered = max(1, total[3] // 255)
            red, green, blue = (channel // covered for channel in total[:3])
            pixels += bytes((blue, green, red, alpha))
        rows.append(bytes(pixels))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + b"".join(rows) + bytes(mask_row * size)


def main():
    sizes = (48, 32, 16)
    images = [image(size) for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as out:
        out.write(directory + b"".join(images))


if __name__ == "__main__":
    main()
