#!/usr/bin/env python3
"""Writes resources/raw_alaw_table: 65536 bytes, byte i the G.711 A-law code of
the 16-bit sample i - 32768.

The codes follow the A-law segment table: the top 13 bits of the sample are taken as
sign and 12-bit magnitude (a negative sample as its one's complement), the
magnitude falls in one of eight segments (0..31 and 32..63 in steps of 2, then
each segment twice as wide with steps twice as large), the code is
sign | segment << 4 | step within the segment, and every even bit is inverted
(XOR 0x55). The result is checked by the tests against an independent codec.

Usage: scripts/gen_raw_alaw_table.py [output path]
"""

import os
import sys

# Upper bounds (exclusive) of the 12-bit magnitude in each of the eight segments.
SEGMENT_ENDS = [32, 64, 128, 256, 512, 1024, 2048, 4096]


def alaw_code(sample):
    # The top 13 bits of the sample: sign and 12-bit magnitude.
    if sample >= 0:
        sign = 0x80
        magnitude = sample >> 3
    else:
        sign = 0x00
        magnitude = (-sample - 1) >> 3
    segment = next(s for s, end in enumerate(SEGMENT_ENDS) if magnitude < end)
    # Segments 0 and 1 step by 2; segment s > 1 steps by 2^s. Each has 16 steps.
    start = 0 if segment == 0 else SEGMENT_ENDS[segment - 1]
    step_size = 2 if segment < 2 else 1 << segment
    step = (magnitude - start) // step_size
    assert 0 <= step < 16
    return (sign | (segment << 4) | step) ^ 0x55


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "raw_alaw_table")
    table = bytes(alaw_code(i - 32768) for i in range(65536))
    assert len(table) == 65536
    with open(out, "wb") as f:
        f.write(table)


if __name__ == "__main__":
    main()
