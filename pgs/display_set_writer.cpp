#include "pgs/display_set_writer.h"

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

  void Window(std::uint32_t pts, std::uint32_t dts, const PicturePlacement& placement) {
    Header(SegmentType::kWindow, pts, dts, pgs::kWindowPayloadSize);
    Put8(1);  // one window
    Put8(pgs::kWindowId);
    Put16(static_cast<std::uint32_t>(placement.posX));
    Put16(static_cast<std::uint32_t>(placement.posY));
    Put16(static_cast<std::uint32_t>(placement.width));
    Put16(static_cast<std::uint32_t>(placement.height));
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

DisplaySetStatus AppendDisplaySets(const PicturePlacement& placement, const pgs::VideoSize& video,
                                   const ColourTable& table, const RleBuffer& rle,
                                   std::vector<std::uint8_t>& out) {
  if (rle.rleLength < 0 || rle.rleLength > pgs::kMaxObjectData) {
    return DisplaySetStatus::kObjectDataTooLong;
  }
  if (placement.width < 0 || placement.width > 0xFFFF || placement.height < 0 ||
      placement.height > 0xFFFF) {
    return DisplaySetStatus::kPictureTooLarge;
  }
  assert(table.entryCount >= 0 && table.entryCount <= pgs::kMaxPaletteEntries);

  const std::uint32_t p0 = TimeStamp(placement.start);
  const std::uint32_t p1 = TimeStamp(placement.end);
  const std::uint32_t decode0 = p0 - pgs::kDecodeLead;
  const std::uint32_t object0 = p0 - pgs::kObjectLead;
  const std::uint32_t window0 = p0 - pgs::kWindowLead;
  const std::uint32_t window1 = p1 - pgs::kWindowLead;

  SegmentSink sink(out);
  // Show: composition, window, palette, object, end.
  sink.Header(SegmentType::kComposition, p0, decode0, pgs::kShowCompositionPayloadSize);
  sink.CompositionHead(video, pgs::kShowCompositionNumber, pgs::kCompositionStateEpochStart, 1);
  sink.Put16(pgs::kObjectId);
  sink.Put8(pgs::kWindowId);
  sink.Put8(pgs::kObjectNotCropped);
  sink.Put16(static_cast<std::uint32_t>(placement.posX));
  sink.Put16(static_cast<std::uint32_t>(placement.posY));

  sink.Window(window0, decode0, placement);

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

  sink.Header(SegmentType::kObject, object0, decode0, pgs::kObjectHeadSize + rle.rleLength);
  sink.Put16(pgs::kObjectId);
  sink.Put8(pgs::kObjectVersion);
  sink.Put8(pgs::kFirstAndLastFragment);
  sink.Put24(static_cast<std::uint32_t>(pgs::kObjectPictureSizeSize + rle.rleLength));
  sink.Put16(static_cast<std::uint32_t>(placement.width));
  sink.Put16(static_cast<std::uint32_t>(placement.height));
  sink.PutBytes(rle.bytes, static_cast<std::size_t>(rle.rleLength));

  sink.Header(SegmentType::kEnd, object0, 0, 0);

  // Clear: composition without objects, window, end.
  sink.Header(SegmentType::kComposition, p1, window1, pgs::kClearCompositionPayloadSize);
  sink.CompositionHead(video, pgs::kClearCompositionNumber, pgs::kCompositionStateNormal, 0);
  sink.Window(window1, 0, placement);
  sink.Header(SegmentType::kEnd, window1, 0, 0);
  return DisplaySetStatus::kWritten;
}

}  // namespace kelpie
