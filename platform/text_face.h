// The one font that every subtitle is drawn in, with measuring and drawing of
// UTF-8 text made of lines separated by line feeds. Glyphs are rasterised once
// and kept for the whole run. Built on FreeType, HarfBuzz and fontconfig.
#ifndef KELPIE_PLATFORM_TEXT_FACE_H_
#define KELPIE_PLATFORM_TEXT_FACE_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/bitmap.h"

namespace kelpie {

// Size of the box that drawing a text at the origin fills, in pixels.
// Callers truncate both values toward zero.
struct TextBox {
  float width = 0;
  float height = 0;
};

// Layout of the subtitle font, the same for every text:
//   width  = advance width of the widest line (trailing spaces not counted)
//            + a margin of 1/6 em on the left and on the right;
//   height = number of lines * the font's line spacing;
//   each line is centred in the box, its baseline at the line's top plus the
//   font's ascender. A line feed ends a line; one at the very end of the text
//   does not start another. A text without any visible glyph (empty, or only
//   spaces and line feeds) measures 0 x 0 and draws nothing.
// Characters the font lacks are drawn in another installed font that has them.
class TextFace {
 public:
  virtual ~TextFace() = default;

  // Opens the subtitle font: family "MS UI Gothic", 36 pt at 96 dpi (48 pixels
  // to the em), regular, or the generic sans-serif family when that is
  // missing, with per-character fallback fonts. Returns null (and sets *error)
  // when no font can be found.
  static std::unique_ptr<TextFace> OpenSubtitleFont(std::string* error);

  // A text without any visible glyph measures 0 x 0.
  virtual TextBox Measure(std::string_view utf8) = 0;
  // Draws the text with its box's top-left corner at (0, 0) of `target`,
  // blending glyph coverage times `colour` over the existing pixels: each
  // covered pixel d becomes BlendOver(s, d), where s has the colour's red,
  // green and blue and the alpha (coverage * colour alpha + 127) / 255.
  // Glyph pixels outside `target` are clipped.
  virtual void Draw(std::string_view utf8, Argb colour, ArgbBitmap& target) = 0;

  // The family the text is drawn in (fallback fonts aside), for messages.
  virtual std::string family() const { return {}; }
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_TEXT_FACE_H_
