#include "pgs/sup_reader.h"

#include <cstdarg>
#include <cstdio>

namespace kelpie {

namespace {

using pgs::SegmentType;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

bool Fail(SupError& error, std::size_t offset, std::string message) {
  error.offset = offset;
  error.message = std::move(message);
  return false;
}

// Big-endian reads from a payload whose length has been checked.
class FieldReader {
 public:
  explicit FieldReader(const std::uint8_t* data) : p_(data) {}
  std::uint8_t U8() { return *p_++; }
  std::uint16_t U16() {
    const std::uint16_t v = static_cast<std::uint16_t>((p_[0] << 8) | p_[1]);
    p_ += 2;
    return v;
  }
  std::uint32_t U24() {
    const std::uint32_t v = (std::uint32_t{p_[0]} << 16) | (std::uint32_t{p_[1]} << 8) | p_[2];
    p_ += 3;
    return v;
  }
  std::uint32_t U32() {
    const std::uint32_t high = U16();
    return (high << 16) | U16();
  }
  const std::uint8_t* position() const { return p_; }

 private:
  const std::uint8_t* p_;
};

bool KnownType(std::uint8_t type) {
  switch (static_cast<SegmentType>(type)) {
    case SegmentType::kPalette:
    case SegmentType::kObject:
    case SegmentType::kComposition:
    case SegmentType::kWindow:
    case SegmentType::kEnd:
      return true;
  }
  return false;
}

const char* TypeName(SegmentType type) {
  switch (type) {
    case SegmentType::kPalette:
      return "palette";
    case SegmentType::kObject:
      return "object";
    case SegmentType::kComposition:
      return "composition";
    case SegmentType::kWindow:
      return "window";
    case SegmentType::kEnd:
      return "end";
  }
  return "unknown";
}

bool ParseComposition(const SupSegment& s, SupComposition& c, SupError& error) {
  if (s.size < pgs::kCompositionHeadSize) {
    return Fail(error, s.offset,
                Format("composition payload of %u bytes is shorter than its %d-byte head", s.size,
                       pgs::kCompositionHeadSize));
  }
  FieldReader in(s.payload);
  c.videoWidth = in.U16();
  c.videoHeight = in.U16();
  c.frameRate = in.U8();
  c.number = in.U16();
  c.state = in.U8();
  c.paletteUpdate = in.U8();
  c.paletteId = in.U8();
  const int count = in.U8();
  int used = pgs::kCompositionHeadSize;
  c.objects.clear();
  for (int i = 0; i < count; ++i) {
    if (used + pgs::kCompositionObjectSize > s.size) {
      return Fail(
          error, s.offset,
          Format("composition payload of %u bytes ends inside object %d of %d", s.size, i, count));
    }
    SupCompositionObject o;
    o.objectId = in.U16();
    o.windowId = in.U8();
    o.croppedFlag = in.U8();
    o.x = in.U16();
    o.y = in.U16();
    used += pgs::kCompositionObjectSize;
    if (o.croppedFlag & pgs::kObjectCropped) {
      if (used + pgs::kCropSize > s.size) {
        return Fail(
            error, s.offset,
            Format("composition payload of %u bytes ends inside the crop of object %d", s.size, i));
      }
      o.cropX = in.U16();
      o.cropY = in.U16();
      o.cropWidth = in.U16();
      o.cropHeight = in.U16();
      used += pgs::kCropSize;
    }
    c.objects.push_back(o);
  }
  if (used != s.size) {
    return Fail(error, s.offset,
                Format("composition payload of %u bytes has %d bytes after its %d objects", s.size,
                       s.size - used, count));
  }
  return true;
}

bool ParseWindows(const SupSegment& s, std::vector<SupWindow>& windows, SupError& error) {
  if (s.size < pgs::kWindowCountSize) {
    return Fail(error, s.offset, "window payload is empty");
  }
  FieldReader in(s.payload);
  const int count = in.U8();
  const int expected = pgs::kWindowCountSize + count * pgs::kWindowEntrySize;
  if (s.size != expected) {
    return Fail(error, s.offset,
                Format("window payload of %u bytes does not hold %d windows (%d bytes)", s.size,
                       count, expected));
  }
  for (int i = 0; i < count; ++i) {
    SupWindow w;
    w.id = in.U8();
    w.x = in.U16();
    w.y = in.U16();
    w.width = in.U16();
    w.height = in.U16();
    windows.push_back(w);
  }
  return true;
}

bool ParsePalette(const SupSegment& s, std::vector<SupPalette>& palettes, SupError& error) {
  if (s.size < pgs::kPaletteHeadSize || (s.size - pgs::kPaletteHeadSize) % pgs::kPaletteEntrySize) {
    return Fail(error, s.offset,
                Format("palette payload of %u bytes is not %d bytes plus %d per entry", s.size,
                       pgs::kPaletteHeadSize, pgs::kPaletteEntrySize));
  }
  FieldReader in(s.payload);
  SupPalette palette;
  palette.id = in.U8();
  palette.version = in.U8();
  const int count = (s.size - pgs::kPaletteHeadSize) / pgs::kPaletteEntrySize;
  for (int i = 0; i < count; ++i) {
    SupPaletteEntry e;
    e.id = in.U8();
    e.y = in.U8();
    e.cr = in.U8();
    e.cb = in.U8();
    e.alpha = in.U8();
    palette.entries.push_back(e);
  }
  palettes.push_back(std::move(palette));
  return true;
}

// An object whose first fragment has been read and whose last has not.
struct PendingObject {
  bool open = false;
  SupObject object;
  std::uint32_t dataLength = 0;  // announced run-length bytes
};

bool ParseObject(const SupSegment& s, PendingObject& pending, std::vector<SupObject>& objects,
                 SupError& error) {
  if (s.size < pgs::kObjectFragmentHeadSize) {
    return Fail(error, s.offset,
                Format("object payload of %u bytes is shorter than its %d-byte head", s.size,
                       pgs::kObjectFragmentHeadSize));
  }
  FieldReader in(s.payload);
  const std::uint16_t id = in.U16();
  const std::uint8_t version = in.U8();
  const std::uint8_t sequence = in.U8();
  std::size_t dataStart = pgs::kObjectFragmentHeadSize;
  if (sequence & pgs::kFirstFragment) {
    if (pending.open) {
      return Fail(
          error, s.offset,
          Format("object %u starts before object %u has its last fragment", id, pending.object.id));
    }
    if (s.size < pgs::kObjectHeadSize) {
      return Fail(error, s.offset,
                  Format("first object fragment of %u bytes is shorter than its %d-byte head",
                         s.size, pgs::kObjectHeadSize));
    }
    const std::uint32_t length = in.U24();
    if (length < static_cast<std::uint32_t>(pgs::kObjectPictureSizeSize)) {
      return Fail(error, s.offset,
                  Format("object data length %u is less than the %d bytes of the picture size",
                         length, pgs::kObjectPictureSizeSize));
    }
    pending = PendingObject{};
    pending.open = true;
    pending.object.id = id;
    pending.object.version = version;
    pending.object.width = in.U16();
    pending.object.height = in.U16();
    pending.object.dataOffset = s.offset + pgs::kSegmentHeaderSize + pgs::kObjectHeadSize;
    pending.dataLength = length - pgs::kObjectPictureSizeSize;
    dataStart = pgs::kObjectHeadSize;
  } else if (!pending.open || pending.object.id != id) {
    return Fail(error, s.offset,
                Format("continued fragment of object %u without its first fragment", id));
  }
  pending.object.data.insert(pending.object.data.end(), s.payload + dataStart, s.payload + s.size);
  if (pending.object.data.size() > pending.dataLength) {
    return Fail(error, s.offset,
                Format("object %u carries %zu run-length bytes, more than its data length %u", id,
                       pending.object.data.size(), pending.dataLength));
  }
  if (sequence & pgs::kLastFragment) {
    if (pending.object.data.size() != pending.dataLength) {
      return Fail(error, s.offset,
                  Format("object %u ends with %zu run-length bytes of its data length %u", id,
                         pending.object.data.size(), pending.dataLength));
    }
    objects.push_back(std::move(pending.object));
    pending = PendingObject{};
  }
  return true;
}

}  // namespace

bool ReadSup(const std::uint8_t* data, std::size_t size, std::vector<SupDisplaySet>& sets,
             SupError& error) {
  sets.clear();
  SupDisplaySet current;
  bool open = false;
  PendingObject pending;
  std::size_t offset = 0;
  while (offset < size) {
    const std::size_t left = size - offset;
    if (left < static_cast<std::size_t>(pgs::kSegmentHeaderSize)) {
      return Fail(
          error, offset,
          Format("segment header truncated: %zu of %d bytes", left, pgs::kSegmentHeaderSize));
    }
    const std::uint8_t* header = data + offset;
    if (header[0] != pgs::kMagic[0] || header[1] != pgs::kMagic[1]) {
      return Fail(error, offset, Format("magic 0x%02X%02X is not \"PG\"", header[0], header[1]));
    }
    FieldReader in(header + pgs::kPtsOffset);
    SupSegment segment;
    segment.offset = offset;
    segment.pts = in.U32();
    segment.dts = in.U32();
    const std::uint8_t type = in.U8();
    segment.size = in.U16();
    if (!KnownType(type)) {
      return Fail(error, offset, Format("segment type 0x%02X is unknown", type));
    }
    segment.type = static_cast<SegmentType>(type);
    if (segment.size > left - pgs::kSegmentHeaderSize) {
      return Fail(error, offset,
                  Format("%s payload of %u bytes runs past the end of the stream (%zu bytes left)",
                         TypeName(segment.type), segment.size, left - pgs::kSegmentHeaderSize));
    }
    segment.payload = header + pgs::kSegmentHeaderSize;

    if (!open && segment.type != SegmentType::kComposition) {
      return Fail(error, offset,
                  Format("%s segment outside a display set (a composition segment must come first)",
                         TypeName(segment.type)));
    }
    switch (segment.type) {
      case SegmentType::kComposition:
        if (open) {
          return Fail(error, offset,
                      Format("composition segment inside the display set at offset %zu, which has "
                             "no end segment",
                             current.offset));
        }
        current = SupDisplaySet{};
        open = true;
        current.offset = offset;
        current.pts = segment.pts;
        current.dts = segment.dts;
        if (!ParseComposition(segment, current.composition, error)) return false;
        break;
      case SegmentType::kWindow:
        if (!ParseWindows(segment, current.windows, error)) return false;
        break;
      case SegmentType::kPalette:
        if (!ParsePalette(segment, current.palettes, error)) return false;
        break;
      case SegmentType::kObject:
        if (!ParseObject(segment, pending, current.objects, error)) return false;
        break;
      case SegmentType::kEnd:
        if (segment.size != 0) {
          return Fail(error, offset, Format("end segment has a payload of %u bytes", segment.size));
        }
        if (pending.open) {
          return Fail(
              error, offset,
              Format("display set ends before object %u has its last fragment", pending.object.id));
        }
        break;
    }
    current.segments.push_back(segment);
    offset += pgs::kSegmentHeaderSize + segment.size;
    if (segment.type == SegmentType::kEnd) {
      sets.push_back(std::move(current));
      current = SupDisplaySet{};
      open = false;
    }
  }
  if (open) {
    return Fail(error, size,
                Format("stream ends inside the display set at offset %zu (no end segment)",
                       current.offset));
  }
  return true;
}

bool DecodeRle(const std::uint8_t* data, std::size_t size, int width, int height,
               std::vector<std::uint8_t>& indexes, SupError& error) {
  // Rows are added as their pixels arrive, so memory follows the data that is
  // really there: a few forged bytes cannot claim gigabytes up front.
  indexes.clear();
  int row = 0;
  int x = 0;
  std::size_t pos = 0;
  while (pos < size) {
    const std::size_t start = pos;
    const std::uint8_t first = data[pos++];
    int run = 1;
    std::uint8_t index = first;
    if (first == pgs::kRleEscape) {
      if (pos >= size) return Fail(error, start, "code truncated after its escape byte");
      const std::uint8_t flags = data[pos++];
      if (flags == 0) {
        if (row >= height) {
          return Fail(error, start, Format("end of line after the last of %d rows", height));
        }
        if (x != width) {
          return Fail(error, start,
                      Format("row %d has %d pixels, the picture is %d wide", row, x, width));
        }
        ++row;
        x = 0;
        continue;
      }
      run = flags & pgs::kRleLengthMask;
      if (flags & pgs::kRleLongRun) {
        if (pos >= size) return Fail(error, start, "code truncated before its second length byte");
        run = (run << 8) | data[pos++];
      }
      index = 0;
      if (flags & pgs::kRleIndexed) {
        if (pos >= size) return Fail(error, start, "code truncated before its index byte");
        index = data[pos++];
      }
      if (run == 0) return Fail(error, start, Format("run of 0 pixels (flags 0x%02X)", flags));
    }
    if (row >= height) {
      return Fail(error, start, Format("pixels after the last of %d rows", height));
    }
    if (run > width - x) {
      return Fail(error, start,
                  Format("run of %d pixels at column %d of row %d passes the width %d", run, x, row,
                         width));
    }
    const std::size_t rowEnd =
        (static_cast<std::size_t>(row) + 1) * static_cast<std::size_t>(width);
    if (indexes.size() < rowEnd) indexes.resize(rowEnd, 0);
    std::uint8_t* out = indexes.data() + static_cast<std::size_t>(row) * width + x;
    for (int i = 0; i < run; ++i) out[i] = index;
    x += run;
  }
  if (x != 0 || row != height) {
    return Fail(error, size,
                Format("data ends after %d of %d rows%s", row, height,
                       x != 0 ? " inside a row without its end of line" : ""));
  }
  return true;
}

std::string FormatTicks(std::uint32_t ticks) {
  const std::uint32_t ms = ticks / 90;
  return Format("%u:%02u:%02u.%03u", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

}  // namespace kelpie
