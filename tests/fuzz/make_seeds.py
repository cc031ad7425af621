#!/usr/bin/env python3
"""Seed inputs for the fuzz targets, cut from real scripts.

usage: make_seeds.py OUT_DIR SCRIPT...
Writes OUT_DIR/script_line_fuzzer/ (the scripts' dialogue, play-resolution
and a few other lines, as the reader gets them: UTF-8, no line end) and
OUT_DIR/conversion_fuzzer/ (small scripts in each script's own encoding: its
play-resolution lines and one to three consecutive dialogue lines).
"""
import hashlib
import os
import sys

MAX_SEED = 2048
PER_SCRIPT = 12


def decode(raw):
    """The text of a script and how to encode a piece of it again."""
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le", "replace"), lambda s: b"\xff\xfe" + s.encode("utf-16-le")
    if raw.startswith(b"\xfe\xff"):
        return raw[2:].decode("utf-16-be", "replace"), lambda s: b"\xfe\xff" + s.encode("utf-16-be")
    try:
        return raw.decode("utf-8"), lambda s: s.encode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1"), lambda s: s.encode("latin-1")


def save(folder, data):
    if len(data) > MAX_SEED:
        return
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    lines_dir = os.path.join(out, "script_line_fuzzer")
    scripts_dir = os.path.join(out, "conversion_fuzzer")
    os.makedirs(lines_dir, exist_ok=True)
    os.makedirs(scripts_dir, exist_ok=True)
    for path in sys.argv[2:]:
        with open(path, "rb") as f:
            raw = f.read()
        text, encode = decode(raw)
        lines = text.lstrip("\ufeff").splitlines()
        dialogue = [l for l in lines if l.startswith("Dialogue:")]
        header = [l for l in lines if l.startswith("PlayRes")]
        others = [l for l in lines if not l.startswith(("Dialogue:", "PlayRes"))][:20]
        for line in dialogue[:200] + header + others:
            save(lines_dir, line.encode("utf-8", "replace"))
        step = max(1, len(dialogue) // PER_SCRIPT)
        for n, start in enumerate(range(0, len(dialogue), step)):
            if n >= PER_SCRIPT:
                break
            body = ["[Script Info]"] + header + ["", "[Events]"] + dialogue[start:start + 1 + n % 3]
            save(scripts_dir, encode("\r\n".join(body) + "\r\n"))
        if len(raw) <= MAX_SEED:
            save(scripts_dir, raw)


if __name__ == "__main__":
    main()
