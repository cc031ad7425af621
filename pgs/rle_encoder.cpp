#include "pgs/rle_encoder.h"

#include <algorithm>
#include <limits>

namespace kelpie {

namespace {

using pgs::kMaxDirectIndex;
using pgs::kMaxRun;
using pgs::kMaxShortRun;
using pgs::kMinDirectIndex;

// Appends bytes to the buffer while they fit and counts them all, so that
// the size error can name the full length.
class RleSink {
 public:
  explicit RleSink(RleBuffer& rle) : rle_(rle) {}

  void Put(std::uint8_t byte) {
    if (length_ < RleBuffer::kCapacity) rle_.bytes[length_] = byte;
    ++length_;
  }
  std::int64_t length() const { return length_; }

 private:
  RleBuffer& rle_;
  std::int64_t length_ = 0;
};

// One code for `length` (1 to 16383) pixels of `index`.
void PutCode(RleSink& sink, std::uint8_t index, int length) {
  if (index == 0) {
    sink.Put(pgs::kRleEscape);
    if (length <= kMaxShortRun) {
      sink.Put(static_cast<std::uint8_t>(length));
    } else {
      sink.Put(static_cast<std::uint8_t>(pgs::kRleLongRun | (length >> 8)));
      sink.Put(static_cast<std::uint8_t>(length & 0xFF));
    }
    return;
  }
  if (length <= 2 && index >= kMinDirectIndex && index <= kMaxDirectIndex) {
    sink.Put(index);
    if (length == 2) sink.Put(index);
    return;
  }
  sink.Put(pgs::kRleEscape);
  if (length <= kMaxShortRun) {
    sink.Put(static_cast<std::uint8_t>(pgs::kRleIndexed | length));
  } else {
    sink.Put(static_cast<std::uint8_t>(pgs::kRleIndexed | pgs::kRleLongRun | (length >> 8)));
    sink.Put(static_cast<std::uint8_t>(length & 0xFF));
  }
  sink.Put(index);
}

// A run longer than the 14-bit length field is split: full 16383-pixel runs
// first, then the remainder in its ordinary form.
void PutRun(RleSink& sink, std::uint8_t index, std::int32_t length) {
  while (length > kMaxRun) {
    PutCode(sink, index, kMaxRun);
    length -= kMaxRun;
  }
  if (length > 0) PutCode(sink, index, length);
}

}  // namespace

std::uint8_t PixelIndex(const ColourTable& table, const std::uint8_t* rgba) {
  if (rgba[3] == 0) return pgs::kTransparentIndex;
  const int found = FindColour(table, rgba);
  return found < 0 ? pgs::kTransparentIndex : static_cast<std::uint8_t>(found);
}

bool EncodeRle(const WorkImage& image, const ColourTable& table, RleBuffer& rle, Console& console) {
  rle.rleLength = 0;
  RleSink sink(rle);
  for (std::int32_t r = 0; r < image.height; ++r) {
    const std::uint8_t* pixel = image.rows[r];
    if (image.width > 0) {
      std::uint8_t current = PixelIndex(table, pixel);
      std::int32_t run = 1;
      for (std::int32_t x = 1; x < image.width; ++x) {
        pixel += 4;
        const std::uint8_t index = PixelIndex(table, pixel);
        if (index == current) {
          ++run;
        } else {
          PutRun(sink, current, run);
          current = index;
          run = 1;
        }
      }
      PutRun(sink, current, run);
    }
    sink.Put(pgs::kRleEscape);
    sink.Put(0x00);
  }
  rle.rleLength = static_cast<std::int32_t>(
      std::min<std::int64_t>(sink.length(), std::numeric_limits<std::int32_t>::max()));
  if (sink.length() > pgs::kMaxObjectData) {
    console.Out("Error: subtitle picture is very complicated. (%d byte)\n", rle.rleLength);
    console.Out("       It should be less than 65537 bytes.\n");
    console.WaitForKey();
    return false;
  }
  return true;
}

}  // namespace kelpie
