// The one font that every subtitle is drawn in, with measuring and drawing of
// UTF-8 text made of lines separated by line feeds. Glyphs are rasterised once
// and kept for the whole run. Built on FreeType, HarfBuzz, FriBidi and
// fontconfig.
#ifndef KELPIE_PLATFORM_TEXT_FACE_H_
#define KELPIE_PLATFORM_TEXT_FACE_H_

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/bitmap.h"

namespace kelpie {

struct GlyphImage;  // platform/glyph_cache.h

// Size of the box that drawing a text at the origin fills, in pixels.
// Callers truncate both values toward zero.
struct TextBox {
  float width = 0;
  float height = 0;
};

// How far a text's drawn pixels reach outside its box of trunc(width) x
// trunc(height) pixels, in whole pixels on each side; 0 on a side where they
// stay inside. A caller that wants every pixel makes a picture of
// (left + trunc(width) + right) x (above + trunc(height) + below) and draws
// with the box's top-left corner at (left, above).
struct TextOverhang {
  int above = 0;
  int below = 0;
  int left = 0;
  int right = 0;
};

// How a text's glyphs stand in lines: the row where each line's box begins,
// top down, the rows from a box's top to its baseline and from one box's top
// to the next's.
struct TextLines {
  std::vector<long> tops;
  int baseline = 0;
  int spacing = 0;
};

// A text ready to be drawn (TextFace::Prepare), holding no reference to the
// face's mutable state, so that it may be drawn on another thread than the
// face's. Either glyph images, which the face keeps for its whole life, in
// one colour at their places, or a picture drawn beforehand and its place.
class TextDrawing {
 public:
  struct Glyph {
    const GlyphImage* image;
    long left;  // the image's top-left pixel in the target
    long top;
  };
  TextDrawing() = default;
  TextDrawing(Argb colour, std::vector<Glyph> glyphs, TextLines lines = {})
      : colour_(colour), glyphs_(std::move(glyphs)), lines_(std::move(lines)) {}
  TextDrawing(ArgbBitmap picture, int x, int y)
      : picture_(std::move(picture)), x_(x), y_(y), drawnBefore_(true) {}

  // Draws the text over `target`, glyph pixels outside it clipped. Returns
  // true when every pixel was drawn over a fully transparent one (always
  // false for a picture drawn beforehand).
  bool DrawOn(ArgbBitmap& target) const;
  // Makes `target` width x height and fully transparent, then DrawOn: the
  // same pixels and result. Faster: a glyph row right of every glyph drawn
  // before it on that row is known to lie over transparent pixels, which
  // DrawOn would check.
  bool DrawOnClear(ArgbBitmap& target, int width, int height) const;
  // The colour of glyph images (0 for a picture drawn beforehand).
  Argb colour() const { return colour_; }
  // The glyphs DrawOn draws, in drawing order; none for a picture drawn
  // beforehand.
  const std::vector<Glyph>& glyphs() const { return glyphs_; }
  const TextLines& lines() const { return lines_; }
  bool drawnBefore() const { return drawnBefore_; }

 private:
  // Blends every glyph over `target` (see BlendGlyph in the .cpp).
  bool BlendGlyphs(ArgbBitmap& target, long* clearFrom) const;

  Argb colour_ = 0;
  std::vector<Glyph> glyphs_;
  TextLines lines_;
  ArgbBitmap picture_;
  int x_ = 0;
  int y_ = 0;
  bool drawnBefore_ = false;  // picture_ holds the text
};

// Layout of the subtitle font, the same for every text:
//   width  = advance width of the widest line (trailing spaces not counted)
//            + a margin of 1/6 em on the left and on the right;
//   height = number of lines * the font's line spacing;
//   each line is centred in the box, its baseline at the line's top plus the
//   font's ascender. A line feed ends a line; one at the very end of the text
//   does not start another. A text without any visible glyph (empty, or only
//   spaces and line feeds) measures 0 x 0 and draws nothing.
// A line with right-to-left characters (Hebrew, Arabic, direction marks) is
// put in display order by the Unicode bidirectional algorithm, its direction
// that of its first strong character; other lines run left to right as typed.
// Characters the font lacks are drawn in another installed font that has them;
// a character that no installed font has is drawn as the font's box.
class TextFace {
 public:
  virtual ~TextFace() = default;

  // Opens the subtitle font: family "MS UI Gothic", 36 pt at 96 dpi (48 pixels
  // to the em), regular, or the generic sans-serif family when that is
  // missing, with per-character fallback fonts. Returns null (and sets `error`)
  // when no font can be found.
  static std::unique_ptr<TextFace> OpenSubtitleFont(std::string& error);

  // A text without any visible glyph measures 0 x 0.
  virtual TextBox Measure(std::string_view utf8) = 0;
  // How far the text's drawn pixels reach outside its box: marks stacked on
  // a capital (Vietnamese "Ấ") or on a Thai consonant rise above the line
  // spacing, and fallback fonts have other heights. 0 on every side for a
  // text that measures 0 x 0, and by default, for faces that draw only
  // inside the box.
  virtual TextOverhang Overhang(std::string_view /*utf8*/) { return {}; }

  // Draws the text with its box's top-left corner at (0, 0) of `target`,
  // blending glyph coverage times `colour` over the existing pixels: each
  // covered pixel d becomes BlendOver(s, d), where s has the colour's red,
  // green and blue and the alpha (coverage * colour alpha + 127) / 255.
  // Glyph pixels outside `target` are clipped.
  virtual void Draw(std::string_view utf8, Argb colour, ArgbBitmap& target) = 0;
  // The same with the box's top-left corner at (x, y) of `target`; with
  // (0, 0) it is Draw. Returns true when it drew every pixel over a fully
  // transparent one: each pixel it changed then holds the colour's red,
  // green and blue.
  bool DrawAt(std::string_view utf8, Argb colour, ArgbBitmap& target, int x, int y) {
    return Prepare(utf8, colour, x, y).DrawOn(target);
  }
  // DrawAt in two steps: what to draw is worked out here, on the face's
  // thread, and drawn by DrawOn later, on any thread, while the face lives.
  // The default, for faces that draw nothing outside their box, draws the
  // box on a picture of its own now, which DrawOn lays over the target.
  virtual TextDrawing Prepare(std::string_view utf8, Argb colour, int x, int y);

  // Tells that `utf8`, just measured, will be drawn later: a face that lays
  // texts out may keep its layout until then, within a budget, so that
  // drawing need not lay it out again. By default nothing is kept.
  virtual void KeepLayout(std::string_view /*utf8*/) {}

  // Characters that no installed font has, at most one per script: the first
  // one of each script met in laying out texts (Measure, Draw, ...) since the
  // face was opened, in the order met, less those an earlier call returned.
  // Called after measuring each text, it gives what to warn about at that
  // text's line.
  virtual std::vector<char32_t> TakeMissingCharacters() { return {}; }

  // For tests: the glyphs of each line of `utf8` in drawing order, left to
  // right. The default knows no glyphs.
  struct ShapedGlyph {
    int cluster;     // the first character the glyph was shaped from, counted
                     // from its line's start (control characters other than
                     // tabs are not counted)
    unsigned glyph;  // the glyph's number in its font
  };
  virtual std::vector<std::vector<ShapedGlyph>> Glyphs(std::string_view /*utf8*/) { return {}; }

  // The family the text is drawn in (fallback fonts aside), for messages.
  virtual std::string family() const { return {}; }
};

// The warning for a character that no installed font has, naming its script
// and, for common scripts, a Debian package with a font for it:
//   no installed font has U+0E01 (Thai); drawn as a box; install a font for
//   it, for instance fonts-thai-tlwg
// The caller puts "<file>:<line>: " before it.
std::string MissingFontMessage(char32_t c);

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_TEXT_FACE_H_
