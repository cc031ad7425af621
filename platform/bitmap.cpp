#include "platform/bitmap.h"

#include <algorithm>
#include <cassert>

namespace kelpie {

Argb BlendOver(Argb source, Argb destination) {
  const unsigned sa = AlphaOf(source);
  if (sa == 0) return destination;
  if (sa == 255) return source;
  const unsigned da = AlphaOf(destination);
  if (da == 0) return source;
  if (da == 255) {
    return MakeArgb(255, BlendChannelOpaque(RedOf(source), RedOf(destination), sa),
                    BlendChannelOpaque(GreenOf(source), GreenOf(destination), sa),
                    BlendChannelOpaque(BlueOf(source), BlueOf(destination), sa));
  }
  // Weights scaled by 255 so that everything stays integral:
  // ws = sa * 255, wd = da * (255 - sa), total = ws + wd = A * 255 exactly.
  const unsigned ws = sa * 255;
  const unsigned wd = da * (255 - sa);
  const unsigned total = ws + wd;
  const unsigned alpha = (total + 127) / 255;
  auto channel = [&](unsigned s, unsigned d) { return (s * ws + d * wd + total / 2) / total; };
  return MakeArgb(alpha, channel(RedOf(source), RedOf(destination)),
                  channel(GreenOf(source), GreenOf(destination)),
                  channel(BlueOf(source), BlueOf(destination)));
}

ArgbBitmap::ArgbBitmap(int width, int height)
    : width_(width),
      height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0) {
  assert(width >= 0 && height >= 0);
}

void ArgbBitmap::Clear(Argb value) {
  std::fill(pixels_.begin(), pixels_.end(), value);
}

void ArgbBitmap::DrawOver(const ArgbBitmap& source, int x, int y) {
  const int x0 = std::max(0, x);
  const int y0 = std::max(0, y);
  const int x1 = std::min(width_, x + source.width());
  const int y1 = std::min(height_, y + source.height());
  for (int row = y0; row < y1; ++row) {
    const Argb* src = source.Row(row - y);
    Argb* dst = Row(row);
    for (int col = x0; col < x1; ++col) dst[col] = BlendOver(src[col - x], dst[col]);
  }
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
