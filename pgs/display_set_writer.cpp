#include "pgs/display_set_writer.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "pgs/pgs_format.h"

namespace kelpie {

namespace {

using pgs::SegmentType;

class SegmentSink {
 public:
  explicit SegmentSink(std::vector<std::uint8_t>& out) : out_(out) {}

  void Put8(std::uint32_t value) { out_.push_back(static_cast<std::uint8_t>(value)); }
  // 16-bit fields take the low 16 bits of their value.
  void Put16(std::uint32_t value) {
    Put8(value >> 8);
    Put8(value);
  }
  void Put24(std::uint32_t value) {
    assert(value <= 0xFFFFFF);
    Put8(value >> 16);
    Put16(value);
  }
  void Put32(std::uint32_t value) {
    Put16(value >> 16);
    Put16(value);
  }
  void PutBytes(const std::uint8_t* data, std::size_t size) {
    out_.insert(out_.end(), data, data + size);
  }

  void Header(SegmentType type, std::uint32_t pts, std::uint32_t dts, int payloadSize) {
    assert(payloadSize >= 0 && payloadSize <= pgs::kMaxPayloadSize);
    Put8(pgs::kMagic[0]);
    Put8(pgs::kMagic[1]);
    Put32(pts);
    Put32(dts);
    Put8(static_cast<std::uint8_t>(type));
    Put16(static_cast<std::uint32_t>(payloadSize));
  }

  void CompositionHead(const pgs::VideoSize& video, std::uint16_t number, std::uint8_t state,
                       int objectCount) {
    Put16(static_cast<std::uint32_t>(video.width));
    Put16(static_cast<std::uint32_t>(video.height));
    Put8(pgs::kFrameRateCode);
    Put16(number);
    Put8(state);
    Put8(pgs::kPaletteUpdateNone);
    Put8(pgs::kPaletteId);
    Put8(static_cast<std::uint32_t>(objectCount));
  }

  void Windows(std::uint32_t pts, std::uint32_t dts, std::span<const PictureObject> objects) {
    const int count = static_cast<int>(objects.size());
    Header(SegmentType::kWindow, pts, dts, pgs::kWindowCountSize + pgs::kWindowEntrySize * count);
    Put8(static_cast<std::uint32_t>(count));
    for (int k = 0; k < count; ++k) {
      Put8(WindowId(k, count));
      Put16(static_cast<std::uint32_t>(objects[k].posX));
      Put16(static_cast<std::uint32_t>(objects[k].posY));
      Put16(static_cast<std::uint32_t>(objects[k].width));
      Put16(static_cast<std::uint32_t>(objects[k].height));
    }
  }

  // The object's run-length data in as many segments as it takes: the first
  // with the data length and the picture size, later ones with only the id,
  // version and sequence flag; all with the same stamps.
  void Object(std::uint32_t pts, std::uint32_t dts, std::uint16_t id, const PictureObject& object) {
    std::int32_t done = std::min(object.length, pgs::kMaxObjectData);
    std::uint8_t flags = pgs::kFirstFragment | (done == object.length ? pgs::kLastFragment : 0);
    Header(SegmentType::kObject, pts, dts, pgs::kObjectHeadSize + done);
    Put16(id);
    Put8(pgs::kObjectVersion);
    Put8(flags);
    Put24(static_cast<std::uint32_t>(pgs::kObjectPictureSizeSize + object.length));
    Put16(static_cast<std::uint32_t>(object.width));
    Put16(static_cast<std::uint32_t>(object.height));
    PutBytes(object.data, static_cast<std::size_t>(done));
    while (done < object.length) {
      const std::int32_t part = std::min(object.length - done, pgs::kMaxContinuedObjectData);
      flags = done + part == object.length ? pgs::kLastFragment : 0;
      Header(SegmentType::kObject, pts, dts, pgs::kObjectFragmentHeadSize + part);
      Put16(id);
      Put8(pgs::kObjectVersion);
      Put8(flags);
      PutBytes(object.data + done, static_cast<std::size_t>(part));
      done += part;
    }
  }

  // A single object sits in window 1; two sit in windows 0 and 1.
  static std::uint8_t WindowId(int k, int count) {
    return count == 1 ? pgs::kWindowId : static_cast<std::uint8_t>(k);
  }

 private:
  std::vector<std::uint8_t>& out_;
};

}  // namespace

std::uint32_t TimeStamp(std::int32_t ms) {
  // From about 6 h 37 min on the product exceeds a signed 32-bit integer; the
  // 32-bit field holds its low bits (exact up to about 13 h 14 min).
  const auto ticks = static_cast<std::int64_t>(static_cast<double>(ms) * pgs::kTicksPerMillisecond);
  return static_cast<std::uint32_t>(ticks);
}

YCrCb ToYCrCb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  // Evaluated left to right in double precision exactly as grouped here;
  // regrouping the sums changes thousands of colours by one step.
  const double r = red;
  const double g = green;
  const double b = blue;
  const double y = g * 0.587 + r * 0.299 + b * 0.114;
  const double cr = g * 0.419 - r * 0.5 + b * 0.081;
  const double cb = g * 0.332 + r * 0.169 - b * 0.5;
  YCrCb out;
  out.y = static_cast<std::uint8_t>(static_cast<int>(std::trunc(y)));
  out.cr = static_cast<std::uint8_t>(128 - static_cast<int>(std::trunc(cr)));
  out.cb = static_cast<std::uint8_t>(128 - static_cast<int>(std::trunc(cb)));
  return out;
}

DisplaySetStatus AppendDisplaySets(std::int32_t startMs, std::int32_t endMs,
                                   const pgs::VideoSize& video, const ColourTable& table,
                                   std::span<const PictureObject> objects,
                                   std::vector<std::uint8_t>& out) {
  const int count = static_cast<int>(objects.size());
  if (count < 1 || count > pgs::kMaxObjects) return DisplaySetStatus::kBadObjectCount;
  for (const PictureObject& o : objects) {
    if (o.length < 0 || o.length > pgs::kMaxPlayerObjectData) {
      return DisplaySetStatus::kObjectDataTooLong;
    }
    if (o.width < 0 || o.width > 0xFFFF || o.height < 0 || o.height > 0xFFFF) {
      return DisplaySetStatus::kPictureTooLarge;
    }
  }
  assert(table.entryCount >= 0 && table.entryCount <= pgs::kMaxPaletteEntries);

  const std::uint32_t p0 = TimeStamp(startMs);
  const std::uint32_t p1 = TimeStamp(endMs);
  const std::uint32_t decode0 = StampBefore(p0, pgs::kDecodeLead);
  const std::uint32_t object0 = StampBefore(p0, pgs::kObjectLead);
  const std::uint32_t window0 = StampBefore(p0, pgs::kWindowLead);
  const std::uint32_t window1 = StampBefore(p1, pgs::kWindowLead);

  // Room for both display sets at once, so that appending never moves the
  // bytes written so far: the object data and, per segment, at most 64 bytes
  // of headers and fields (a palette entry takes 5, so 2048 more cover the
  // palette).
  std::size_t room = out.size() + 2048 + 8 * 64;
  for (const PictureObject& o : objects) {
    room += static_cast<std::size_t>(o.length) +
            64 * (static_cast<std::size_t>(o.length) / pgs::kMaxObjectData + 1);
  }
  if (out.capacity() < room) out.reserve(std::max(room, 2 * out.capacity()));

  SegmentSink sink(out);
  // Show: composition, windows, palette, objects, end.
  sink.Header(SegmentType::kComposition, p0, decode0,
              pgs::kCompositionHeadSize + pgs::kCompositionObjectSize * count);
  sink.CompositionHead(video, pgs::kShowCompositionNumber, pgs::kCompositionStateEpochStart, count);
  for (int k = 0; k < count; ++k) {
    sink.Put16(static_cast<std::uint32_t>(pgs::kObjectId + k));
    sink.Put8(SegmentSink::WindowId(k, count));
    sink.Put8(pgs::kObjectNotCropped);
    sink.Put16(static_cast<std::uint32_t>(objects[k].posX));
    sink.Put16(static_cast<std::uint32_t>(objects[k].posY));
  }

  sink.Windows(window0, decode0, objects);

  sink.Header(SegmentType::kPalette, decode0, 0,
              pgs::kPaletteHeadSize + pgs::kPaletteEntrySize * table.entryCount);
  sink.Put8(pgs::kPaletteId);
  sink.Put8(pgs::kPaletteVersion);
  for (std::int32_t i = 0; i < table.entryCount; ++i) {
    const YCrCb colour = ToYCrCb(table.red[i], table.green[i], table.blue[i]);
    sink.Put8(static_cast<std::uint32_t>(i));
    sink.Put8(colour.y);
    sink.Put8(colour.cr);
    sink.Put8(colour.cb);
    sink.Put8(table.alpha[i]);
  }

  for (int k = 0; k < count; ++k) {
    sink.Object(object0, decode0, static_cast<std::uint16_t>(pgs::kObjectId + k), objects[k]);
  }
  sink.Header(SegmentType::kEnd, object0, 0, 0);

  // Clear: composition without objects, windows, end.
  sink.Header(SegmentType::kComposition, p1, window1, pgs::kClearCompositionPayloadSize);
  sink.CompositionHead(video, pgs::kClearCompositionNumber, pgs::kCompositionStateNormal, 0);
  sink.Windows(window1, 0, objects);
  sink.Header(SegmentType::kEnd, window1, 0, 0);
  return DisplaySetStatus::kWritten;
}

DisplaySetStatus AppendDisplaySets(const PicturePlacement& placement, const pgs::VideoSize& video,
                                   const ColourTable& table, const RleBuffer& rle,
                                   std::vector<std::uint8_t>& out) {
  const PictureObject object{placement.posX,   placement.posY, placement.width,
                             placement.height, rle.bytes,      rle.rleLength};
  return AppendDisplaySets(placement.start, placement.end, video, table,
                           std::span<const PictureObject>(&object, 1), out);
}

}  // namespace kelpie
