// The shadow is read off a work picture 15 pixels wider and taller than the
// text, opaque black, with the text blended onto it twice (at 10,10 and
// 15,15), blurred, and blended once more, sharp, at 13,13. Each fully
// transparent text pixel (x, y) then looks at work pixel (x + 10, y + 10):
// black leaves it alone, a dark grey gives the faint shadow, a sharp copy of
// white text (a channel at 0xFF, or blue at 0xE1 where white at alpha 224
// blends over the blur) the dark one, anything else the medium one.
//
// The fast effect keeps the work picture as one plane per channel and builds
// only the planes that can differ: every step treats the channels alike, so
// a channel equal to another in every visible text pixel stays equal to it
// throughout, and one that is 0 in every visible text pixel stays black
// (black text, or no visible pixel at all, casts no shadow). White or grey
// text thus needs one plane.
#include "render/shadow.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace kelpie {

namespace {

constexpr int kMargin = 15;      // the work picture is this much wider and taller
constexpr int kFirstCopy = 10;   // offset of the first blurred copy
constexpr int kSecondCopy = 15;  // offset of the second blurred copy
constexpr int kSharpCopy = 13;   // offset of the sharp copy
constexpr int kLookOffset = 10;  // text pixel (x, y) reads work pixel (x + 10, y + 10)
constexpr int kSharpShift = kSharpCopy - kLookOffset;  // text pixel (x, y) sees the sharp
                                                       // copy of (x - 3, y - 3)
constexpr unsigned kFaintBelow = 0x40;
constexpr unsigned kFull = 0xFF;
constexpr unsigned kBlueOfWhiteAt224 = 0xE1;  // 225: kept as is, not 0xFF
static_assert(kSecondCopy <= kMargin && kSharpCopy <= kMargin,
              "every copy lies wholly inside the work picture");

// The shadow pixel for work colour (r, g, b), or 0 for none.
inline Argb ShadowFor(unsigned r, unsigned g, unsigned b) {
  const bool none = (r | g | b) == 0;
  const bool faint = r < kFaintBelow && g < kFaintBelow && b < kFaintBelow;
  const bool dark = g == kFull || b == kBlueOfWhiteAt224 || r == kFull;
  return none ? 0 : faint ? kShadowFaint : dark ? kShadowDark : kShadowMedium;
}

// Channel c (0 red, 1 green, 2 blue) of a pixel.
inline unsigned ChannelOf(Argb pixel, int c) {
  return (pixel >> (16 - 8 * c)) & 0xFF;
}

// Text pixel `pixel`, which sees the sharp copy of `sharp` blended over the
// blurred work pixel (red, green, blue): its value after the shadow.
inline Argb ShadowPixel(Argb pixel, Argb sharp, unsigned red, unsigned green, unsigned blue) {
  const unsigned a = AlphaOf(sharp);
  const Argb shadow = ShadowFor(BlendChannelOpaque(RedOf(sharp), red, a),
                                BlendChannelOpaque(GreenOf(sharp), green, a),
                                BlendChannelOpaque(BlueOf(sharp), blue, a));
  return AlphaOf(pixel) == 0 && shadow != 0 ? shadow : pixel;
}

// Adjacent pixels are worked on together, one per lane of a vector as wide
// as the instruction set's registers (wider vectors lose the comparisons to
// scalar code), each lane doing the integer arithmetic of the scalar code.
// Pixels and plane values are read and written in 32-bit lanes (`Words`);
// the blends and the rule, whose values all fit 16 bits, run on twice as
// many pixels at once in 16-bit lanes (`Halves`). The helpers are always
// inlined (so the ABI of vectors passed by value does not matter).
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
template <int kBytes>
struct WordVector {
  typedef std::uint32_t Type __attribute__((vector_size(kBytes)));
  typedef std::uint16_t Halves __attribute__((vector_size(kBytes)));
};

template <typename W, typename T>
inline __attribute__((always_inline)) W Load(const T* p) {
  static_assert(sizeof(T) == sizeof(std::uint32_t));
  W v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename W, typename T>
inline __attribute__((always_inline)) void Store(T* p, W v) {
  static_assert(sizeof(T) == sizeof(std::uint32_t));
  std::memcpy(p, &v, sizeof v);
}

// A comparison result (all ones or zero per lane) as unsigned lanes. Results
// are combined only as such lanes: GCC works out a bitwise operation between
// comparison results lane by lane in scalar code when the helper holding it
// is compiled for the baseline instruction set.
template <typename W, typename Mask>
inline __attribute__((always_inline)) W AsLanes(Mask m) {
  return reinterpret_cast<W>(m);
}

// Between 32-bit and 16-bit lanes: two vectors of values below 2^16 are
// paired as first | second << 16, so 16-bit lane 2i holds lane i of `first`
// and lane 2i + 1 lane i of `second`; v & 0xFFFF and v >> 16 (in 32-bit
// lanes) part them again. Every step between is lane by lane.
template <typename H, typename W>
inline __attribute__((always_inline)) H Pair(W first, W second) {
  return reinterpret_cast<H>(first | second << 16);
}

// BlendChannelOpaque in every lane, 32 or 16 bits wide. Its division by 255
// is done as (x + 1 + (x >> 8)) >> 8, equal to x / 255 for 0 <= x <= 65534;
// here x = s * a + d * (255 - a) + 127 <= 255 * 255 + 127 = 65152, and
// x + 1 + (x >> 8) <= 65152 + 1 + 254 stays below 2^16. The sum is formed
// with one multiplication as 256 d - d + (s - d) a + 127, equal in integers;
// the lanes wrap modulo 2^32 or 2^16 where s < d, which leaves the final
// value (0 to 65152, below both) exact.
template <typename W>
inline __attribute__((always_inline)) W BlendLanes(W s, W d, W a) {
  static_assert(255 * 255 + 127 <= 65534);
  static_assert(255 * 255 + 127 + 1 + 254 < 65536);
  const W x = (d << 8) - d + (s - d) * a + 127;
  return (x + 1 + (x >> 8)) >> 8;
}

// Channel `shift` (16 red, 8 green, 0 blue; 24 alpha) of the 2 * kPixels
// pixels at p, in 16-bit lanes as Pair orders them.
template <typename W, typename H>
inline __attribute__((always_inline)) H ChannelHalves(const Argb* p, int shift) {
  constexpr int kPixels = sizeof(W) / sizeof(std::uint32_t);
  const W first = Load<W>(p) >> shift & 0xFF;
  const W second = Load<W>(p + kPixels);
  // second's channel moved to bits 16 to 23
  const W moved = shift <= 16 ? second << (16 - shift) : second >> (shift - 16);
  return reinterpret_cast<H>(first | (moved & 0xFF0000));
}

// Plane values out[0 .. 2 kPixels - 1] of channel `shift` where the first
// copy's pixels `first` and the second copy's `second` reach (null where
// that copy does not).
template <typename W, typename H>
inline __attribute__((always_inline)) void PlaneBlock(std::int32_t* out, const Argb* first,
                                                      const Argb* second, int shift) {
  constexpr int kPixels = sizeof(W) / sizeof(std::uint32_t);
  H v{};
  if (first != nullptr) {
    v = BlendLanes(ChannelHalves<W, H>(first, shift), v, ChannelHalves<W, H>(first, 24));
  }
  if (second != nullptr) {
    v = BlendLanes(ChannelHalves<W, H>(second, shift), v, ChannelHalves<W, H>(second, 24));
  }
  const W values = reinterpret_cast<W>(v);
  Store(out, values & 0xFFFF);
  Store(out + kPixels, values >> 16);
}

// The top halves of the shadow pixels (0 for none) from the comparisons of
// ShadowFor (each all ones or zero per lane); faint and dark never hold
// together.
template <typename H>
inline __attribute__((always_inline)) H ShadowTops(H none, H faint, H dark) {
  constexpr std::uint16_t kFaintTop = kShadowFaint >> 16;
  constexpr std::uint16_t kMediumTop = kShadowMedium >> 16;
  constexpr std::uint16_t kDarkTop = kShadowDark >> 16;
  static_assert(((kShadowFaint | kShadowMedium | kShadowDark) & 0xFFFF) == 0);
  const H shadow = (faint & kFaintTop) | (dark & kDarkTop) | (~faint & ~dark & kMediumTop);
  return shadow & ~none;
}

// Writes the 2 * kPixels text pixels at `row`, whose shadow tops are `tops`
// (as Pair orders them): a pixel with alpha 0 takes its shadow pixel when it
// has one. Tops are cleared where the pixel is visible, so each pixel is
// then its shadow pixel when that is not 0, else unchanged.
template <typename W, typename H>
inline __attribute__((always_inline)) void StoreShadow(Argb* row, H tops) {
  constexpr int kPixels = sizeof(W) / sizeof(std::uint32_t);
  const W kept = reinterpret_cast<W>(tops & AsLanes<H>(ChannelHalves<W, H>(row, 24) == 0));
  const W shadows[2] = {kept << 16, kept & 0xFFFF0000};
  for (int k = 0; k < 2; ++k) {
    const W pixels = Load<W>(row + k * kPixels);
    Store(row + k * kPixels, shadows[k] | (pixels & AsLanes<W>(shadows[k] == 0)));
  }
}

// The rule on the 2 * kPixels text pixels at `row` for grey text, each
// seeing the sharp pixel at `sharp` (null for none) blended over the plane
// value at `look`. A sharp pixel is grey or has alpha 0 and leaves the
// plane's value, so its red stands for each of its channels.
template <typename W, typename H>
inline __attribute__((always_inline)) void GreyBlock(Argb* row, const Argb* sharp,
                                                     const std::int32_t* look) {
  constexpr int kPixels = sizeof(W) / sizeof(std::uint32_t);
  H v = Pair<H>(Load<W>(look), Load<W>(look + kPixels));
  if (sharp != nullptr) {
    v = BlendLanes(ChannelHalves<W, H>(sharp, 16), v, ChannelHalves<W, H>(sharp, 24));
  }
  StoreShadow<W>(row, ShadowTops(AsLanes<H>(v == 0), AsLanes<H>(v < kFaintBelow),
                                 AsLanes<H>(v == kFull) | AsLanes<H>(v == kBlueOfWhiteAt224)));
}

// The same for text of any colour, with one plane per channel.
template <typename W, typename H>
inline __attribute__((always_inline)) void ColourBlock(Argb* row, const Argb* sharp,
                                                       const std::int32_t* const look[3]) {
  constexpr int kPixels = sizeof(W) / sizeof(std::uint32_t);
  H rgb[3];
  for (int c = 0; c < 3; ++c) rgb[c] = Pair<H>(Load<W>(look[c]), Load<W>(look[c] + kPixels));
  if (sharp != nullptr) {
    const H a = ChannelHalves<W, H>(sharp, 24);
    for (int c = 0; c < 3; ++c) {
      rgb[c] = BlendLanes(ChannelHalves<W, H>(sharp, 16 - 8 * c), rgb[c], a);
    }
  }
  // All three channels are below 0x40 exactly when their bitwise or is. The
  // dark test takes three comparisons: the product of the three differences
  // from 0xFF, 0xE1 and 0xFF can wrap to 0 modulo 2^16.
  const H any = rgb[0] | rgb[1] | rgb[2];
  StoreShadow<W>(row,
                 ShadowTops(AsLanes<H>(any == 0), AsLanes<H>(any < kFaintBelow),
                            AsLanes<H>(rgb[1] == kFull) | AsLanes<H>(rgb[2] == kBlueOfWhiteAt224) |
                                AsLanes<H>(rgb[0] == kFull)));
}

// The fast effect, written once and compiled for each instruction set with
// vectors of kBytes.
template <int kBytes>
inline __attribute__((always_inline)) void ApplyShadowBody(ArgbBitmap& text,
                                                           ShadowScratch& scratch) {
  using Words = typename WordVector<kBytes>::Type;
  using Halves = typename WordVector<kBytes>::Halves;
  constexpr int kPixels = kBytes / sizeof(std::uint32_t);
  constexpr int kBlock = 2 * kPixels;  // pixels per block of 16-bit lanes
  const int width = text.width();
  const int height = text.height();
  const int wholeBlocks = width / kPixels * kPixels;

  // Which channels of the visible pixels are non-zero, and which differ:
  // p ^ (p >> 8) holds green ^ blue in its lowest byte and red ^ green in
  // the next, p ^ (p >> 16) red ^ blue in its lowest.
  Words anyLanes{};
  Words neighbourLanes{};
  Words redBlueLanes{};
  Argb any = 0;
  Argb neighbours = 0;
  Argb redBlue = 0;
  for (int y = 0; y < height; ++y) {
    const Argb* row = text.Row(y);
    int x = 0;
    for (; x < wholeBlocks; x += kPixels) {
      Words p = Load<Words>(row + x);
      p &= AsLanes<Words>((p >> 24) != 0);
      anyLanes |= p;
      neighbourLanes |= p ^ (p >> 8);
      redBlueLanes |= p ^ (p >> 16);
    }
    for (; x < width; ++x) {
      const Argb p = AlphaOf(row[x]) != 0 ? row[x] : 0;
      any |= p;
      neighbours |= p ^ (p >> 8);
      redBlue |= p ^ (p >> 16);
    }
  }
  for (int i = 0; i < kPixels; ++i) {
    any |= anyLanes[i];
    neighbours |= neighbourLanes[i];
    redBlue |= redBlueLanes[i];
  }
  const Argb greenBlue = neighbours & 0xFF;
  const Argb redGreen = (neighbours >> 8) & 0xFF;
  redBlue &= 0xFF;
  // source[c]: the channel whose plane channel c reads, or -1 for black.
  int source[3] = {0, redGreen == 0 ? 0 : 1, redBlue == 0 ? 0 : greenBlue == 0 ? 1 : 2};
  bool anyChannel = false;
  for (int c = 0; c < 3; ++c) {
    if (ChannelOf(any, c) == 0) source[c] = -1;
    anyChannel |= source[c] >= 0;
  }
  if (!anyChannel) return;  // the work picture stays black: no shadow anywhere

  // Blocks of kBlock pixels cover a stretch of n >= kBlock pixels with the
  // last block ending at the stretch's end, overlapping the one before: a
  // block's results depend only on inputs it does not change (and the rule,
  // applied again to a pixel it has already given its shadow, leaves it as
  // it is), so working out a pixel twice gives the same bytes.
  for (int c = 0; c < 3; ++c) {
    if (source[c] != c) continue;
    ChannelPlane& plane = scratch.planes[c];
    const int shift = 16 - 8 * c;
    // The opaque black work picture (every value 0) with both copies blended
    // in as the graphics layer draws them, made row by row: each value is
    // BlendChannelOpaque of the second copy's pixel over that of the first
    // copy over black, where the copies reach. No pixel is skipped:
    // BlendChannelOpaque(s, d, 0) = (255 d + 127) / 255 = d.
    const int planeWidth = width + kMargin;
    plane.Resize(planeWidth, height + kMargin);
    // Where the copies start and end along a row; between two neighbouring
    // bounds each copy either covers every pixel or none.
    int bounds[] = {0, kFirstCopy, kSecondCopy, kFirstCopy + width, kSecondCopy + width};
    std::sort(std::begin(bounds), std::end(bounds));
    for (int y = 0; y < height + kMargin; ++y) {
      const bool firstRow = y >= kFirstCopy && y < kFirstCopy + height;
      const bool secondRow = y >= kSecondCopy && y < kSecondCopy + height;
      for (int b = 0; b + 1 < static_cast<int>(std::size(bounds)); ++b) {
        const int x0 = bounds[b];
        const int n = bounds[b + 1] - x0;
        if (n <= 0) continue;
        // Pixel i of this stretch: out[i], and the copies' pixels first[i],
        // second[i] where they reach it.
        std::int32_t* out = plane.Row(y) + x0;
        const Argb* first = firstRow && x0 >= kFirstCopy && x0 + n <= kFirstCopy + width
                                ? text.Row(y - kFirstCopy) + (x0 - kFirstCopy)
                                : nullptr;
        const Argb* second = secondRow && x0 >= kSecondCopy && x0 + n <= kSecondCopy + width
                                 ? text.Row(y - kSecondCopy) + (x0 - kSecondCopy)
                                 : nullptr;
        if (n >= kBlock) {
          for (int i = 0;; i += kBlock) {
            if (i > n - kBlock) i = n - kBlock;
            PlaneBlock<Words, Halves>(out + i, first != nullptr ? first + i : nullptr,
                                      second != nullptr ? second + i : nullptr, shift);
            if (i == n - kBlock) break;
          }
          continue;
        }
        for (int i = 0; i < n; ++i) {
          unsigned v = 0;
          if (first != nullptr) {
            v = BlendChannelOpaque(ChannelOf(first[i], c), v, AlphaOf(first[i]));
          }
          if (second != nullptr) {
            v = BlendChannelOpaque(ChannelOf(second[i], c), v, AlphaOf(second[i]));
          }
          out[i] = static_cast<std::int32_t>(v);
        }
      }
    }
    // The rule reads only the work pixels (x + 10, y + 10), so only they are
    // blurred; the others are never read again.
    BlurPlaneRect(plane,
                  PixelRect{kLookOffset, kLookOffset, width + kLookOffset, height + kLookOffset},
                  scratch.blur);
  }
  scratch.zeroRow.assign(width, 0);  // what a black channel reads
  // Grey text (every visible pixel has red = green = blue, so all three
  // channels read one plane): the three blended channels are equal and one
  // is worked out. The dark test then reads: the value is 0xFF or, as blue,
  // 0xE1.
  const bool grey = source[0] == 0 && source[1] == 0 && source[2] == 0;

  // The sharp copy is blended in as each pixel is looked at. Rows go bottom
  // to top so that the text pixels it copies, three rows up, are still the
  // original ones; each pixel's result depends only on its own original
  // value and the work picture, so the order changes nothing else.
  for (int y = height - 1; y >= 0; --y) {
    const std::int32_t* look[3];
    for (int c = 0; c < 3; ++c) {
      look[c] = source[c] < 0 ? scratch.zeroRow.data()
                              : scratch.planes[source[c]].Row(y + kLookOffset) + kLookOffset;
    }
    Argb* row = text.Row(y);
    // Text pixel (x, y) sees the sharp copy of (x - 3, y - 3).
    const Argb* sharpRow = y >= kSharpShift ? text.Row(y - kSharpShift) : nullptr;
    int x = 0;
    for (; x < std::min(width, kSharpShift); ++x) {
      row[x] = ShadowPixel(row[x], 0, look[0][x], look[1][x], look[2][x]);
    }
    if (width - x >= kBlock) {
      for (;; x += kBlock) {
        if (x > width - kBlock) x = width - kBlock;
        const Argb* sharp = sharpRow != nullptr ? sharpRow + x - kSharpShift : nullptr;
        if (grey) {
          GreyBlock<Words, Halves>(row + x, sharp, look[0] + x);
        } else {
          const std::int32_t* const blockLook[3] = {look[0] + x, look[1] + x, look[2] + x};
          ColourBlock<Words, Halves>(row + x, sharp, blockLook);
        }
        if (x == width - kBlock) break;
      }
      continue;
    }
    for (; x < width; ++x) {
      const Argb sharp = sharpRow != nullptr ? sharpRow[x - kSharpShift] : 0;
      row[x] = ShadowPixel(row[x], sharp, static_cast<unsigned>(look[0][x]),
                           static_cast<unsigned>(look[1][x]), static_cast<unsigned>(look[2][x]));
    }
  }
}

// 16-bit lanes of 512-bit vectors take AVX-512 BW (part of kAvx512).
__attribute__((target("avx512f,avx512bw,avx512vl"))) void ApplyShadowAvx512(
    ArgbBitmap& text, ShadowScratch& scratch) {
  ApplyShadowBody<64>(text, scratch);
}
__attribute__((target("avx2"))) void ApplyShadowAvx2(ArgbBitmap& text, ShadowScratch& scratch) {
  ApplyShadowBody<32>(text, scratch);
}
void ApplyShadowBaseline(ArgbBitmap& text, ShadowScratch& scratch) {
  ApplyShadowBody<16>(text, scratch);
}

}  // namespace

void ApplyShadowReference(ArgbBitmap& text) {
  const int width = text.width();
  const int height = text.height();
  RgbBitmap work(width + kMargin, height + kMargin);
  work.Clear(0xFF000000);
  work.DrawOver(text, kFirstCopy, kFirstCopy);
  work.DrawOver(text, kSecondCopy, kSecondCopy);
  BlurRgbReference(work);
  work.DrawOver(text, kSharpCopy, kSharpCopy);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (AlphaOf(text.Pixel(x, y)) != 0) continue;
      const Argb c = work.Pixel(x + kLookOffset, y + kLookOffset);
      const Argb shadow = ShadowFor(RedOf(c), GreenOf(c), BlueOf(c));
      if (shadow != 0) text.SetPixel(x, y, shadow);
    }
  }
}

void ApplyShadow(ArgbBitmap& text, ShadowScratch& scratch) {
  if (text.width() == 0 || text.height() == 0) return;
  switch (ChooseInstructionSet(scratch.blur.instructionSet)) {
    case InstructionSet::kAvx512:
      ApplyShadowAvx512(text, scratch);
      break;
    case InstructionSet::kAvx2:
      ApplyShadowAvx2(text, scratch);
      break;
    default:
      ApplyShadowBaseline(text, scratch);
      break;
  }
}

void ApplyShadow(ArgbBitmap& text) {
  ShadowScratch scratch;
  ApplyShadow(text, scratch);
}

}  // namespace kelpie
