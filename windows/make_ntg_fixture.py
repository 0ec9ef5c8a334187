#!/usr/bin/env python3
"""Writes a small NoiseTracker GS song for the Windows end-to-end test: four tracks in two instrument
groups, looping and one-shot samples (with zero bytes), both output sides, set-volume and set-tempo
commands, a "NXT" that ends a pattern early, a "STP" and an order list that repeats a pattern.

usage: make_ntg_fixture.py OUT.NTG
"""
import struct
import sys

HEADER_SIZE = 606
TRACKS = 4
FIRST_GROUP_TRACKS = 3          # tracks 0-2 use the first group, track 3 the second
PATTERN_SIZE = 64 * TRACKS * 3
PATTERNS = 2
ORDER = [0, 1, 0]
NXT, STP = 84, 85
SET_VOLUME, SET_TEMPO, NO_COMMAND_11 = 0x40, 0x80, 0xC0


def samples():
    """Three samples: (bytes, default volume, mode). Bytes are unsigned with 128 as the centre."""
    saw = bytes((i * 7) % 255 + 1 for i in range(256))                 # loops (mode 3)
    seed, noise = 12345, bytearray()
    for i in range(200):                                               # one shot (mode 0)
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        noise.append(0 if i % 37 == 5 else (seed >> 16) & 0xFF)        # zero bytes repeat the last value
    triangle = bytes(128 + (i if i < 75 else 150 - i if i < 225 else i - 300) for i in range(300))
    return [(saw, 100, 3), (bytes(noise), 200, 0), (triangle, 80, 5)]


def cell(note=0, instrument=0, command=0, parameter=0):
    return bytes((note, (instrument & 0x3F) | command, parameter))


def pattern(number):
    rows = [[cell() for _ in range(TRACKS)] for _ in range(64)]
    if number == 0:
        rows[0] = [cell(37, 1), cell(49, 2, SET_VOLUME, 200), cell(44, 1), cell(30, 1)]
        for row in range(4, 64, 4):
            rows[row][0] = cell(37 + (row // 4) % 12)                    # instrument kept from row 0
        rows[8][1] = cell(61, 2)                                        # default volume 200, limited
        rows[16][2] = cell(0, 0, SET_TEMPO, 200)                        # faster from here
        rows[24][3] = cell(42, 0, SET_VOLUME, 40)
        rows[32][1] = cell(STP)
        rows[40][1] = cell(56)                                          # starts the stopped track again
        rows[48][2] = cell(47, 1, NO_COMMAND_11, 99)
        rows[56][3] = cell(35, 1)
    else:
        rows[0] = [cell(25, 1, SET_TEMPO, 60), cell(), cell(52, 2), cell(37, 1, SET_VOLUME, 255)]
        rows[5][0] = cell(32, 0, SET_TEMPO, 125)
        rows[12][1] = cell(64, 1)
        rows[20] = [cell(40), cell(), cell(NXT), cell(47)]              # track 3 of this row still plays
        rows[21][0] = cell(90, 1)                                       # never reached
    return b"".join(b"".join(r) for r in rows)


def build():
    instruments = samples()
    first_group, second_group = instruments[:2], instruments[2:]
    pattern_data = b"".join(pattern(n) for n in range(PATTERNS))

    header = bytearray(HEADER_SIZE)
    header[2:5], header[6:8], header[15:16] = b"FTA", b"MO", b"E"
    struct.pack_into("<H", header, 16, 125)                             # initial tempo: 26 rows a second
    struct.pack_into("<H", header, 22, len(ORDER))
    struct.pack_into("<H", header, 26, len(second_group))
    struct.pack_into("<H", header, 28, len(first_group))
    struct.pack_into("<H", header, 36, FIRST_GROUP_TRACKS)
    struct.pack_into("<H", header, 38, PATTERN_SIZE)
    struct.pack_into("<H", header, 40, TRACKS)
    struct.pack_into("<I", header, 42, len(pattern_data))
    for track, side in enumerate([1, 0, 1, 0]):                        # non-zero: left
        struct.pack_into("<H", header, 64 + 2 * track, side)
    for position, number in enumerate(ORDER):
        struct.pack_into("<H", header, 94 + 2 * position, number)

    def group_area(group):
        area, records = bytearray(), []
        for data, volume, mode in group:
            page = len(area) // 256
            area += data + bytes(-len(data) % 256)
            record = bytearray(32)
            record[16:19] = len(data).to_bytes(3, "little")
            struct.pack_into("<H", record, 19, page)
            record[21], record[26] = volume, mode
            records.append(bytes(record))
        return bytes(area), records

    first_area, first_records = group_area(first_group)
    second_area, second_records = group_area(second_group)
    struct.pack_into("<H", header, 34, len(first_area) // 256)

    song = bytes(header) + pattern_data + b"".join(first_records + second_records)
    song += bytes(-len(song) % 256)
    return song + first_area + second_area


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as out:
        out.write(build())
