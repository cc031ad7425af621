#!/usr/bin/env python3
"""Plays a .sup against the script it was made from and reports what a viewer
would see: display sets out of time order, pictures cut short by a later one,
objects reaching past the video, script lines left without a picture,
moments when two unpositioned lines are on screen together and whether their
picture is tall enough to hold both, and whether positioned lines have drawn
pixels at their anchors.

    tools/check_stream.py script.ass script.sup

The stream is read and its run-length data decoded here, independently of
the converter's own reader. Screen state follows the display sets in order of
their presentation stamps (file order on a tie): a show replaces what is on
screen, a clear empties it.
"""
import bisect
import re
import sys

TICKS_PER_MS = 90.09


def read_segments(data):
    at = 0
    while at < len(data):
        if at + 13 > len(data) or data[at:at + 2] != b"PG":
            raise ValueError(f"bad segment header at {at}")
        pts = int.from_bytes(data[at + 2:at + 6], "big")
        dts = int.from_bytes(data[at + 6:at + 10], "big")
        kind = data[at + 10]
        size = int.from_bytes(data[at + 11:at + 13], "big")
        yield pts, dts, kind, data[at + 13:at + 13 + size]
        at += 13 + size


def decode_rle(data, width, height):
    """Row-major palette indexes."""
    pixels = bytearray()
    i = 0
    rows = 0
    row = bytearray()
    while i < len(data) and rows < height:
        b = data[i]
        i += 1
        if b:
            row.append(b)
            continue
        flags = data[i]
        i += 1
        if flags == 0:
            pixels += row[:width].ljust(width, b"\xff")
            row = bytearray()
            rows += 1
            continue
        length = flags & 0x3F
        if flags & 0x40:
            length = (length << 8) | data[i]
            i += 1
        colour = 0
        if flags & 0x80:
            colour = data[i]
            i += 1
        row += bytes([colour]) * length
    return pixels


def read_display_sets(data):
    sets = []
    current = None
    for pts, dts, kind, payload in read_segments(data):
        if kind == 0x16:
            current = {"pts": pts, "dts": [dts], "objects": [], "palette": {},
                       "video": (int.from_bytes(payload[0:2], "big"),
                                 int.from_bytes(payload[2:4], "big")),
                       "placements": []}
            count = payload[10]
            for k in range(count):
                o = 11 + 8 * k
                current["placements"].append(
                    (int.from_bytes(payload[o:o + 2], "big"),
                     int.from_bytes(payload[o + 4:o + 6], "big"),
                     int.from_bytes(payload[o + 6:o + 8], "big")))
            data_of = {}
        elif current is None:
            raise ValueError("segment outside a display set")
        elif kind == 0x14:
            for e in range(2, len(payload), 5):
                current["palette"][payload[e]] = payload[e + 4]
        elif kind == 0x15:
            object_id = int.from_bytes(payload[0:2], "big")
            flags = payload[3]
            if flags & 0x80:
                data_of[object_id] = {"w": int.from_bytes(payload[7:9], "big"),
                                      "h": int.from_bytes(payload[9:11], "big"),
                                      "rle": bytearray(payload[11:])}
            else:
                data_of[object_id]["rle"] += payload[4:]
        elif kind == 0x80:
            for object_id, x, y in current["placements"]:
                o = data_of[object_id]
                current["objects"].append((x, y, o["w"], o["h"], o["rle"]))
            sets.append(current)
            current = None
        if current is not None:
            current["dts"].append(dts)
    return sets


def strip_text(text):
    """Whether the text of a dialogue line draws anything."""
    out = []
    drawing = False
    for piece in re.split(r"(\{[^}]*\})", text):
        if piece.startswith("{") and piece.endswith("}"):
            for n in re.findall(r"\\p(-?\d+)", piece):
                drawing = int(n) > 0
            continue
        if not drawing:
            out.append(piece)
    visible = "".join(out).replace("\\N", "").replace("\\n", "").replace("\\h", "")
    return visible.strip() != ""


def read_script(path):
    raw = open(path, "rb").read()
    for encoding in ("utf-8-sig", "utf-16", "latin-1"):
        try:
            text = raw.decode(encoding)
            break
        except UnicodeError:
            continue
    res = [1440, 1080]
    lines = []
    for line in text.splitlines():
        for axis, key in ((0, "PlayResX:"), (1, "PlayResY:")):
            if line.startswith(key):
                m = re.match(r"\s*(\d+)", line[len(key):])
                if m and 1 <= int(m.group(1)) <= 8192:
                    res[axis] = int(m.group(1))
        if not line.startswith("Dialogue:"):
            continue
        fields = line[9:].split(",", 9)
        if len(fields) < 10:
            continue
        times = []
        for f in fields[1:3]:
            m = re.match(r"\s*(\d+):(\d+):(\d+)\.(\d+)", f)
            times.append(None if not m else
                         (((int(m[1]) * 60 + int(m[2])) * 60 + int(m[3])) * 100 + int(m[4])) * 10)
        if None in times or times[1] <= times[0] or not strip_text(fields[9]):
            continue
        first = re.search(r"\{([^}]*)\}", fields[9])
        pos = first and re.search(r"\\pos\(\s*(-?[\d.]+)\s*,\s*(-?[\d.]+)", first.group(1))
        lines.append({"start": times[0], "end": times[1], "res": tuple(res),
                      "pos": (int(float(pos[1])), int(float(pos[2]))) if pos else None,
                      "rows": fields[9].count("\\N") + 1})
    return lines


def main():
    script, sup = sys.argv[1], sys.argv[2]
    sets = read_display_sets(open(sup, "rb").read())
    lines = read_script(script)
    report = {}
    report["display sets"] = len(sets)
    report["pictures"] = sum(1 for s in sets if s["objects"])
    report["back in time"] = sum(1 for a, b in zip(sets, sets[1:]) if b["pts"] < a["pts"])
    report["decode after presentation"] = sum(1 for s in sets if s["dts"][0] > s["pts"])
    report["objects past the video"] = sum(
        1 for s in sets for (x, y, w, h, _) in s["objects"]
        if x + w > s["video"][0] or y + h > s["video"][1])

    # What is on screen when: the sets in presentation order.
    order = sorted(range(len(sets)), key=lambda i: (sets[i]["pts"], i))
    timeline = [(sets[i]["pts"], i) for i in order]

    stamps = [pts for pts, _ in timeline]

    def on_screen(tick):
        n = bisect.bisect_right(stamps, tick)
        if n == 0:
            return None
        i = timeline[n - 1][1]
        return i if sets[i]["objects"] else None

    cut = 0
    for n, (pts, i) in enumerate(timeline):
        if not sets[i]["objects"]:
            continue
        own_clear = i + 1 if i + 1 < len(sets) and not sets[i + 1]["objects"] else None
        if own_clear is None:
            continue
        wanted = sets[own_clear]["pts"] - pts
        shown = (timeline[n + 1][0] if n + 1 < len(timeline) else pts + wanted) - pts
        if wanted > 0 and shown < 0.9 * wanted:
            cut += 1
    report["pictures cut short"] = cut

    def ticks(ms):
        return int(ms * TICKS_PER_MS)

    uncovered = 0
    for line in lines:
        length = line["end"] - line["start"]
        moments = [line["start"] + length // 2] if length < 60 else [
            line["start"] + 25 + k * (length - 50) // 4 for k in range(5)]
        if any(on_screen(ticks(t)) is None for t in moments):
            uncovered += 1
    report["lines"] = len(lines)
    report["lines not always on screen"] = uncovered

    # Moments when two or more unpositioned lines are due together.
    bounds = sorted({t for l in lines for t in (l["start"], l["end"])})
    together = stacked = 0
    for a, b in zip(bounds, bounds[1:]):
        if b - a < 60:
            continue
        mid = (a + b) // 2
        due = [l for l in lines if l["pos"] is None and l["start"] <= mid < l["end"]]
        if len(due) < 2:
            continue
        together += 1
        i = on_screen(ticks(mid))
        if i is None:
            continue
        top = min(y for (x, y, w, h, _) in sets[i]["objects"])
        bottom = max(y + h for (x, y, w, h, _) in sets[i]["objects"])
        if bottom - top >= 50 * sum(l["rows"] for l in due):
            stacked += 1
    report["moments with unpositioned lines together"] = together
    report["of them tall enough for all"] = stacked

    anchored = positioned = 0
    for line in lines:
        if line["pos"] is None:
            continue
        positioned += 1
        i = on_screen(ticks((line["start"] + line["end"]) // 2))
        if i is None:
            continue
        px, py = line["pos"]
        resx, resy = line["res"]
        px, py = min(max(px, 0), resx - 1), min(max(py, 0), resy)
        found = False
        for (x, y, w, h, rle) in sets[i]["objects"]:
            if not (x - 40 <= px < x + w + 40 and y - 10 <= py <= y + h + 60):
                continue
            indexes = decode_rle(rle, w, h)
            alpha = sets[i]["palette"]
            for yy in range(max(0, py - y - 70), min(h, py - y + 10)):
                row = indexes[yy * w:(yy + 1) * w]
                for xx in range(max(0, px - x - 40), min(w, px - x + 40)):
                    if alpha.get(row[xx], 0) > 0:
                        found = True
                        break
                if found:
                    break
            if found:
                break
        anchored += found
    report["positioned lines"] = positioned
    report["of them drawn at their anchors"] = anchored
    for key, value in report.items():
        print(f"{key}: {value}")


if __name__ == "__main__":
    main()
