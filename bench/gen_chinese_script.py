#!/usr/bin/env python3
"""Writes a deterministic script of Chinese dialogue for the benchmark.

usage: gen_chinese_script.py N OUT.ass [SEED]

N lines, one on screen at a time (2.5 s each, 3 s apart), each of 8 to 16
characters drawn from the first 3,000 CJK unified ideographs, so that the
script uses thousands of distinct characters, as a Chinese film does. The
subtitle font lacks them all: every one is drawn in a fallback font.
"""
import random
import sys

HEADER = """[Script Info]
ScriptType: v4.00+
PlayResX: 1920
PlayResY: 1080

[V4+ Styles]
Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, \
Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, \
Shadow, Alignment, MarginL, MarginR, MarginV, Encoding
Style: Default,Arial,48,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,\
2,2,10,10,10,1

[Events]
Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
"""


def stamp(ms):
    return "%d:%02d:%02d.%02d" % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms // 10 % 100)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    count = int(sys.argv[1])
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) == 4 else 5)
    characters = [chr(c) for c in range(0x4E00, 0x4E00 + 3000)]
    with open(sys.argv[2], "w", encoding="utf-8") as out:
        out.write(HEADER)
        for i in range(count):
            start = 1000 + 3000 * i
            text = "".join(rng.choice(characters) for _ in range(rng.randint(8, 16)))
            out.write("Dialogue: 0,%s,%s,Default,,0,0,0,,%s\n" % (stamp(start), stamp(start + 2500), text))


if __name__ == "__main__":
    main()
