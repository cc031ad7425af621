// Pictures held in memory: a 32-bit ARGB bitmap with straight (not
// premultiplied) alpha, and a 24-bit RGB bitmap without alpha. Both are
// zero-filled when made. The source-over blend that every drawing operation
// uses is defined once here, in exact integer arithmetic.
#ifndef KELPIE_PLATFORM_BITMAP_H_
#define KELPIE_PLATFORM_BITMAP_H_

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace kelpie {

// A pixel value 0xAARRGGBB, straight alpha.
using Argb = std::uint32_t;

// An allocator whose vectors leave the elements they add without a value
// unless given one, for pixel memory that is written before it is read.
template <typename T>
struct UnfilledAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UnfilledAllocator<U>;
  };
  UnfilledAllocator() = default;
  template <typename U>
  explicit UnfilledAllocator(const UnfilledAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

constexpr Argb MakeArgb(unsigned a, unsigned r, unsigned g, unsigned b) {
  return (Argb{a} << 24) | (Argb{r} << 16) | (Argb{g} << 8) | Argb{b};
}
constexpr unsigned AlphaOf(Argb c) {
  return c >> 24;
}
constexpr unsigned RedOf(Argb c) {
  return (c >> 16) & 0xFF;
}
constexpr unsigned GreenOf(Argb c) {
  return (c >> 8) & 0xFF;
}
constexpr unsigned BlueOf(Argb c) {
  return c & 0xFF;
}

// One channel of a source-over blend onto an opaque destination:
// (s * a + d * (255 - a)) / 255 rounded to nearest, exactly.
constexpr unsigned BlendChannelOpaque(unsigned s, unsigned d, unsigned a) {
  return (s * a + d * (255 - a) + 127) / 255;
}

// Source-over of a straight-alpha pixel onto a straight-alpha pixel.
//   source alpha 0        -> destination unchanged
//   source alpha 255      -> source
//   destination alpha 255 -> each channel BlendChannelOpaque, alpha 255
//   destination alpha 0   -> source
//   otherwise             -> A = sa + da * (255 - sa) / 255 and each channel the
//                            alpha-weighted mean (s*sa*255 + d*da*(255-sa)) / (A*255),
//                            both rounded to nearest.
inline Argb BlendOver(Argb source, Argb destination) {
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

class ArgbBitmap {
 public:
  ArgbBitmap() = default;
  // REQUIRES: width >= 0, height >= 0.
  ArgbBitmap(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  // The memory its pixels hold, which may be more than the picture needs.
  std::size_t memoryBytes() const { return pixels_.size() * sizeof(Argb); }

  void Clear(Argb value);
  // Makes the bitmap width x height with every pixel `value`, as a new bitmap
  // cleared to it would be, reusing its memory. REQUIRES: width >= 0,
  // height >= 0.
  void Reset(int width, int height, Argb value);
  // Makes the bitmap width x height, reusing its memory, without setting any
  // pixel: their values are unspecified until written. REQUIRES: width >= 0,
  // height >= 0.
  void Resize(int width, int height);
  // REQUIRES: 0 <= x < width, 0 <= y < height.
  Argb Pixel(int x, int y) const { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  void SetPixel(int x, int y, Argb value) {
    pixels_[static_cast<std::size_t>(y) * width_ + x] = value;
  }
  // Row y, `width` pixels; valid until the bitmap is resized or destroyed.
  Argb* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
  const Argb* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_; }

  // Draws `source` with its top-left corner at (x, y), blending each pixel
  // over this bitmap with BlendOver. Parts falling outside are clipped.
  void DrawOver(const ArgbBitmap& source, int x, int y);
  // The same for row `row` of this bitmap alone.
  void DrawRowOver(const ArgbBitmap& source, int x, int y, int row);

 private:
  int width_ = 0;
  int height_ = 0;
  // width_ * height_ pixels, rows top to bottom without gaps; after Reset it
  // may hold more, left from a larger picture.
  std::vector<Argb, UnfilledAllocator<Argb>> pixels_;
};

// 24-bit RGB, three bytes per pixel in the order red, green, blue, rows
// top to bottom with no padding (stride = 3 * width).
class RgbBitmap {
 public:
  RgbBitmap() = default;
  // REQUIRES: width >= 0, height >= 0.
  RgbBitmap(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  int stride() const { return 3 * width_; }

  // Sets every pixel to the colour bytes of `value`; its alpha is dropped.
  void Clear(Argb value);
  // The pixel as an opaque Argb value.
  Argb Pixel(int x, int y) const;
  std::uint8_t* Row(int y) { return bytes_.data() + static_cast<std::size_t>(y) * stride(); }
  const std::uint8_t* Row(int y) const {
    return bytes_.data() + static_cast<std::size_t>(y) * stride();
  }

  // Draws `source` at (x, y) blended by its alpha over these opaque pixels:
  // each channel becomes BlendChannelOpaque(s, d, a). Clipped at the edges.
  void DrawOver(const ArgbBitmap& source, int x, int y);

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_BITMAP_H_
