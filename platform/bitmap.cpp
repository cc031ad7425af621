#include "platform/bitmap.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace kelpie {

ArgbBitmap::ArgbBitmap(int width, int height)
    : width_(width),
      height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0) {
  assert(width >= 0 && height >= 0);
}

void ArgbBitmap::Clear(Argb value) {
  const std::size_t n = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
  if (value == 0) {
    // The C library's fill uses the widest stores the processor has.
    if (n > 0) std::memset(pixels_.data(), 0, n * sizeof(Argb));
    return;
  }
  // Sixteen pixels at a time through a vector, the rest one by one.
  typedef Argb Words __attribute__((vector_size(64)));
  const Words fill = Words{} + value;
  Argb* p = pixels_.data();
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) std::memcpy(p + i, &fill, sizeof fill);
  for (; i < n; ++i) p[i] = value;
}

void ArgbBitmap::Reset(int width, int height, Argb value) {
  Resize(width, height);
  Clear(value);
}

void ArgbBitmap::Resize(int width, int height) {
  assert(width >= 0 && height >= 0);
  width_ = width;
  height_ = height;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  // The memory only ever grows, by half at least, so that pictures creeping
  // up in size do not take fresh memory (and its page faults) each time. The
  // pixels are left unset, and the old ones are not copied over.
  if (count > pixels_.size()) {
    decltype(pixels_) grown;
    grown.resize(std::max(count, pixels_.size() + pixels_.size() / 2));
    pixels_.swap(grown);
  }
}

void ArgbBitmap::DrawOver(const ArgbBitmap& source, int x, int y) {
  const int y0 = std::max(0, y);
  const int y1 = std::min(height_, y + source.height());
  for (int row = y0; row < y1; ++row) DrawRowOver(source, x, y, row);
}

void ArgbBitmap::DrawRowOver(const ArgbBitmap& source, int x, int y, int row) {
  const int x0 = std::max(0, x);
  const int x1 = std::min(width_, x + source.width());
  if (x0 >= x1 || row < std::max(0, y) || row >= std::min(height_, y + source.height())) return;
  const Argb* src = source.Row(row - y) + (x0 - x);  // src[i] lands on dst[i]
  Argb* dst = Row(row) + x0;
  const int n = x1 - x0;
  // Over transparent pixels (a fresh canvas, where texts do not overlap)
  // BlendOver gives the source, or keeps the pixel where the source alpha
  // is 0: a loop the compiler turns into vector code.
  unsigned drawn = 0;
  for (int i = 0; i < n; ++i) drawn |= AlphaOf(dst[i]);
  if (drawn == 0) {
    for (int i = 0; i < n; ++i) dst[i] = AlphaOf(src[i]) != 0 ? src[i] : dst[i];
    return;
  }
  for (int i = 0; i < n; ++i) dst[i] = BlendOver(src[i], dst[i]);
}

RgbBitmap::RgbBitmap(int width, int height)
    : width_(width),
      height_(height),
      bytes_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0) {
  assert(width >= 0 && height >= 0);
}

void RgbBitmap::Clear(Argb value) {
  for (std::size_t i = 0; i + 2 < bytes_.size(); i += 3) {
    bytes_[i] = static_cast<std::uint8_t>(RedOf(value));
    bytes_[i + 1] = static_cast<std::uint8_t>(GreenOf(value));
    bytes_[i + 2] = static_cast<std::uint8_t>(BlueOf(value));
  }
}

Argb RgbBitmap::Pixel(int x, int y) const {
  const std::uint8_t* p = Row(y) + 3 * x;
  return MakeArgb(255, p[0], p[1], p[2]);
}

void RgbBitmap::DrawOver(const ArgbBitmap& source, int x, int y) {
  const int x0 = std::max(0, x);
  const int y0 = std::max(0, y);
  const int x1 = std::min(width_, x + source.width());
  const int y1 = std::min(height_, y + source.height());
  for (int row = y0; row < y1; ++row) {
    const Argb* src = source.Row(row - y);
    std::uint8_t* dst = Row(row);
    for (int col = x0; col < x1; ++col) {
      const Argb s = src[col - x];
      const unsigned a = AlphaOf(s);
      if (a == 0) continue;
      std::uint8_t* d = dst + 3 * col;
      d[0] = static_cast<std::uint8_t>(BlendChannelOpaque(RedOf(s), d[0], a));
      d[1] = static_cast<std::uint8_t>(BlendChannelOpaque(GreenOf(s), d[1], a));
      d[2] = static_cast<std::uint8_t>(BlendChannelOpaque(BlueOf(s), d[2], a));
    }
  }
}

}  // namespace kelpie
