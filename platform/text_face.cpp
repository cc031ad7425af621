// The subtitle font on FreeType, HarfBuzz and fontconfig.
//
// A text is laid out line by line. Every character is given a font: the
// subtitle font when it has the character, otherwise a fallback font that
// fontconfig finds for it (remembered per character). Consecutive characters
// in the same font form a run, which HarfBuzz shapes (kerning, ligatures,
// combining marks) with the rest of the line as context. Glyph origins are
// kept in 26.6 fixed point (1/64 pixel) and rounded to whole pixels only when
// a glyph is drawn.
//
// A line with a right-to-left character goes through FriBidi first: its
// embedding levels (direction from the first strong character) split it,
// with the fonts and the scripts, into runs, which HarfBuzz shapes each in its
// own direction and script; FriBidi's reordering gives the order in which the
// runs stand from left to right. HarfBuzz already returns a right-to-left
// run's glyphs from left to right. Other lines keep the simpler path: runs
// split by font only, direction and script guessed by HarfBuzz.
#include "platform/text_face.h"

#include <fribidi.h>
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>
#include <unordered_map>
#include <vector>

#include <emmintrin.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include "platform/font_finder.h"
#include "platform/glyph_cache.h"

namespace kelpie {

namespace {

// 36 points at 96 dots per inch.
constexpr int kPixelsPerEm = 36 * 96 / 72;
static_assert(kPixelsPerEm == 48);
// The margin left and right of the widest line: 1/6 em, in 26.6.
constexpr FT_Pos kMargin = kPixelsPerEm * 64 / 6;
static_assert(kMargin == 8 * 64);

constexpr char kSubtitleFamily[] = "MS UI Gothic";
constexpr char kGenericFamily[] = "sans-serif";
constexpr char32_t kReplacement = 0xFFFD;

// 26.6 to the nearest whole pixel, halves upwards (C++20 shifts negative
// values arithmetically, so this is floor((v + 32) / 64) for every v).
long RoundToPixel(FT_Pos v) {
  return static_cast<long>((v + 32) >> 6);
}

// Appends the characters of `utf8` to `out`. Each byte that does not start a
// well-formed sequence (overlong forms and surrogates included) becomes
// U+FFFD, so no input is lost silently.
void DecodeUtf8(std::string_view utf8, std::vector<char32_t>& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    // Lead byte: sequence length, its payload bits, the smallest character
    // that needs this length (anything below is an overlong form).
    int length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      c = b & 0x1F;
      minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      c = b & 0x0F;
      minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      c = b & 0x07;
      minimum = 0x10000;
    }
    bool ok = length > 0 && i + length <= n;
    for (int k = 1; ok && k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (ok && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (ok) {
      out.push_back(c);
      i += length;
    } else {
      out.push_back(kReplacement);
      ++i;
    }
  }
}

hb_unicode_general_category_t CategoryOf(char32_t c) {
  return hb_unicode_general_category(hb_unicode_funcs_get_default(), c);
}

// Spaces that a line's width does not count when they end the line.
bool IsSpace(char32_t c) {
  return c == '\t' || CategoryOf(c) == HB_UNICODE_GENERAL_CATEGORY_SPACE_SEPARATOR;
}

bool IsMark(char32_t c) {
  const auto category = CategoryOf(c);
  return category == HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK ||
         category == HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK ||
         category == HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK;
}

// Format characters that shaping consumes or hides (joiners, direction marks,
// variation selectors): they stay in the run of the character before them.
bool IsDefaultIgnorable(char32_t c) {
  return c == 0x00AD || c == 0x034F || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) ||
         (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || (c >= 0xE0100 && c <= 0xE01EF);
}

// A character that can make part of a line run right to left: a
// right-to-left letter, mark or embedding. A line without one has every
// embedding level even, so the bidirectional algorithm would leave it in
// typed order.
bool IsRightToLeft(char32_t c) {
  return FRIBIDI_IS_RTL(fribidi_get_bidi_type(c));
}

hb_script_t ScriptOf(char32_t c) {
  return hb_unicode_script(hb_unicode_funcs_get_default(), c);
}

// Scripts that characters of every script use (punctuation, digits,
// combining marks): such a character takes the script of its neighbours.
bool IsSharedScript(hb_script_t script) {
  return script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED || script == HB_SCRIPT_UNKNOWN;
}

// Horizontal advances of one font's glyphs as HarfBuzz's FreeType functions
// give them, each kept once asked for. Those functions keep only a few
// hundred, and loading a hinted glyph for its advance is most of the cost of
// shaping a line of Chinese, whose glyphs number thousands.
struct AdvanceCache {
  static constexpr hb_position_t kUnknown = std::numeric_limits<hb_position_t>::min();
  std::vector<hb_position_t> advances;  // by glyph, kUnknown until asked
};

void CachedAdvances(hb_font_t* font, void* data, unsigned count, const hb_codepoint_t* glyph,
                    unsigned glyphStride, hb_position_t* advance, unsigned advanceStride, void*) {
  auto& cache = *static_cast<AdvanceCache*>(data);
  hb_font_t* parent = hb_font_get_parent(font);
  for (unsigned i = 0; i < count; ++i) {
    if (*glyph < cache.advances.size()) {
      hb_position_t& kept = cache.advances[*glyph];
      if (kept == AdvanceCache::kUnknown) kept = hb_font_get_glyph_h_advance(parent, *glyph);
      *advance = kept;
    } else {
      *advance = hb_font_get_glyph_h_advance(parent, *glyph);
    }
    glyph =
        reinterpret_cast<const hb_codepoint_t*>(reinterpret_cast<const char*>(glyph) + glyphStride);
    advance = reinterpret_cast<hb_position_t*>(reinterpret_cast<char*>(advance) + advanceStride);
  }
}

struct Font {
  FT_Face face = nullptr;
  hb_font_t* hb = nullptr;  // FreeType's functions, advances kept (AdvanceCache)
  std::string path;
  int index = 0;
};

class FreeTypeFace final : public TextFace {
 public:
  FreeTypeFace() = default;
  FreeTypeFace(const FreeTypeFace&) = delete;
  FreeTypeFace& operator=(const FreeTypeFace&) = delete;
  ~FreeTypeFace() override;

  bool Open(std::string& error);

  TextBox Measure(std::string_view utf8) override;
  TextOverhang Overhang(std::string_view utf8) override;
  void Draw(std::string_view utf8, Argb colour, ArgbBitmap& target) override {
    DrawAt(utf8, colour, target, 0, 0);
  }
  TextDrawing Prepare(std::string_view utf8, Argb colour, int x, int y) override;
  void KeepLayout(std::string_view utf8) override;
  std::vector<char32_t> TakeMissingCharacters() override;
  std::vector<std::vector<ShapedGlyph>> Glyphs(std::string_view utf8) override;
  std::string family() const override { return family_; }

 private:
  // A glyph of the laid-out text; its origin in 26.6 from the left end of its
  // line (rightwards) and from the line's baseline (downwards).
  struct PlacedGlyph {
    int font;
    unsigned glyph;
    FT_Pos x;
    FT_Pos y;
    int cluster;  // index in its line of the first character it was shaped from
  };
  // Characters of a line that are shaped together: one font, one embedding
  // level and, on the bidirectional path, one script.
  struct Run {
    std::size_t start;
    std::size_t length;
    int font;
    hb_direction_t direction;  // HB_DIRECTION_INVALID: guessed by HarfBuzz
    hb_script_t script;        // HB_SCRIPT_INVALID: guessed by HarfBuzz
    int order;                 // place from the left among the line's runs
  };
  struct Line {
    std::size_t first;  // index of its first glyph in placed_
    std::size_t count;
    FT_Pos width;  // advance width without trailing spaces, 26.6
  };

  // Lays `utf8` out into placed_ and lines_. Returns true when some glyph
  // has ink.
  bool LayOut(std::string_view utf8);
  void LayOutLine(const std::vector<std::uint32_t>& chars);
  // Splits the first `length` characters of `chars` into runs_ in the order
  // they stand from the left. False when FriBidi fails (out of memory).
  bool SplitBidiRuns(const std::vector<std::uint32_t>& chars, std::size_t length);
  void ShapeRun(const std::vector<std::uint32_t>& chars, const Run& run, FT_Pos& pen);
  FT_Pos WidestLine() const;
  // Calls visit(image, left, top) for every glyph image of the laid-out text
  // that has pixels, its top-left pixel at (left, top) of the box.
  template <typename Visit>
  void ForEachImage(Visit visit);
  void NoteMissing(char32_t c);

  // The font a character is drawn in; `previous` is the font of the
  // character before it on the line, or -1.
  int FontFor(char32_t c, int previous);
  bool HasChar(int font, char32_t c) const { return FT_Get_Char_Index(fonts_[font].face, c) != 0; }
  // The number of the font in fonts_, opening it on first use; -1 when it
  // cannot be opened at the subtitle size.
  int LoadFont(const FontFile& file);

  FT_Library library_ = nullptr;
  FontFinder finder_;
  std::vector<Font> fonts_;                      // fonts_[0] is the subtitle font
  std::unordered_map<char32_t, int> fallbacks_;  // character -> font, -1 when none has it
  std::vector<hb_script_t> missingScripts_;      // scripts with a character no font has
  std::vector<char32_t> newMissing_;             // not yet taken by TakeMissingCharacters
  GlyphCache glyphs_;
  hb_buffer_t* buffer_ = nullptr;
  hb_font_funcs_t* advanceFuncs_ = nullptr;  // CachedAdvances, the rest from FreeType's
  std::string family_;
  FT_Pos ascender_ = 0;     // of the subtitle font, 26.6
  FT_Pos lineSpacing_ = 0;  // of the subtitle font, 26.6

  // Scratch of the last layout, reused to avoid allocations per text.
  std::vector<char32_t> decoded_;
  std::vector<std::uint32_t> lineChars_;
  std::vector<int> lineFonts_;
  std::vector<Run> runs_;
  std::vector<FriBidiCharType> bidiTypes_;
  std::vector<FriBidiBracketType> brackets_;
  std::vector<FriBidiLevel> levels_;
  std::vector<FriBidiStrIndex> visualToLogical_;
  std::vector<hb_script_t> lineScripts_;
  std::vector<PlacedGlyph> placed_;
  std::vector<Line> lines_;
  // The text that placed_ and lines_ hold the layout of, and whether it has ink.
  bool haveLayout_ = false;
  std::string laidOutText_;
  bool laidOutInk_ = false;

  // Layouts kept by KeepLayout until their text is laid out again, and the
  // bytes they take (at most kKeptBytes).
  struct KeptLayout {
    std::vector<PlacedGlyph> placed;
    std::vector<Line> lines;
    bool ink = false;
    std::size_t bytes = 0;
  };
  static constexpr std::size_t kKeptBytes = std::size_t{4} << 20;
  std::map<std::string, KeptLayout, std::less<>> kept_;
  std::size_t keptBytes_ = 0;
};

FreeTypeFace::~FreeTypeFace() {
  if (buffer_ != nullptr) hb_buffer_destroy(buffer_);
  for (Font& font : fonts_) {
    hb_font_destroy(font.hb);
    FT_Done_Face(font.face);
  }
  if (advanceFuncs_ != nullptr) hb_font_funcs_destroy(advanceFuncs_);
  if (library_ != nullptr) FT_Done_FreeType(library_);
}

bool FreeTypeFace::Open(std::string& error) {
  if (FT_Init_FreeType(&library_) != 0) {
    library_ = nullptr;
    error = "can't start FreeType";
    return false;
  }
  if (!finder_.ok()) {
    error = "fontconfig can't load its configuration";
    return false;
  }
  buffer_ = hb_buffer_create();
  if (!hb_buffer_allocation_successful(buffer_)) {
    error = "out of memory";
    return false;
  }
  advanceFuncs_ = hb_font_funcs_create();
  hb_font_funcs_set_glyph_h_advances_func(advanceFuncs_, CachedAdvances, nullptr, nullptr);
  hb_font_funcs_make_immutable(advanceFuncs_);
  for (auto file : {finder_.FindFamily(kSubtitleFamily), finder_.FindGeneric(kGenericFamily)}) {
    if (file && LoadFont(*file) == 0) {
      family_ = file->family;
      const FT_Size_Metrics& metrics = fonts_[0].face->size->metrics;
      ascender_ = metrics.ascender;
      lineSpacing_ = metrics.height;
      return true;
    }
  }
  error = std::string("can't find a font of the family \"") + kSubtitleFamily +
          "\" nor a sans-serif font";
  return false;
}

int FreeTypeFace::LoadFont(const FontFile& file) {
  for (std::size_t i = 0; i < fonts_.size(); ++i) {
    if (fonts_[i].path == file.path && fonts_[i].index == file.index) return static_cast<int>(i);
  }
  Font font;
  if (FT_New_Face(library_, file.path.c_str(), file.index, &font.face) != 0) return -1;
  if (FT_Set_Pixel_Sizes(font.face, 0, kPixelsPerEm) != 0) {
    FT_Done_Face(font.face);
    return -1;
  }
  hb_font_t* shapes = hb_ft_font_create_referenced(font.face);
  hb_ft_font_set_load_flags(shapes, GlyphCache::kLoadFlags);
  font.hb = hb_font_create_sub_font(shapes);
  hb_font_destroy(shapes);  // the sub-font holds it
  auto* cache = new AdvanceCache;
  cache->advances.assign(static_cast<std::size_t>(std::max<FT_Long>(font.face->num_glyphs, 0)),
                         AdvanceCache::kUnknown);
  hb_font_set_funcs(font.hb, advanceFuncs_, cache,
                    [](void* data) { delete static_cast<AdvanceCache*>(data); });
  font.path = file.path;
  font.index = file.index;
  fonts_.push_back(font);
  return static_cast<int>(fonts_.size() - 1);
}

int FreeTypeFace::FontFor(char32_t c, int previous) {
  if (previous >= 0) {
    if (IsDefaultIgnorable(c)) return previous;
    // A mark stays with its base when that font can draw it, so that
    // HarfBuzz positions the two together.
    if (IsMark(c) && HasChar(previous, c)) return previous;
  }
  if (HasChar(0, c)) return 0;
  auto it = fallbacks_.find(c);
  if (it == fallbacks_.end()) {
    int font = -1;
    if (auto file = finder_.FindFontWithChar(c)) font = LoadFont(*file);
    // fontconfig's character sets can disagree with the font's own cmap.
    if (font >= 0 && !HasChar(font, c)) font = -1;
    // Format characters draw nothing whatever font they are given.
    if (font < 0 && !IsDefaultIgnorable(c)) NoteMissing(c);
    it = fallbacks_.emplace(c, font).first;
  }
  // A character no font has is drawn as the subtitle font's missing glyph.
  return it->second >= 0 ? it->second : 0;
}

void FreeTypeFace::NoteMissing(char32_t c) {
  const hb_script_t script = ScriptOf(c);
  if (std::find(missingScripts_.begin(), missingScripts_.end(), script) != missingScripts_.end()) {
    return;
  }
  missingScripts_.push_back(script);
  newMissing_.push_back(c);
}

std::vector<char32_t> FreeTypeFace::TakeMissingCharacters() {
  std::vector<char32_t> taken;
  taken.swap(newMissing_);
  return taken;
}

void FreeTypeFace::ShapeRun(const std::vector<std::uint32_t>& chars, const Run& run, FT_Pos& pen) {
  hb_buffer_clear_contents(buffer_);
  hb_buffer_add_codepoints(buffer_, chars.data(), static_cast<int>(chars.size()),
                           static_cast<unsigned>(run.start), static_cast<int>(run.length));
  hb_buffer_set_direction(buffer_, run.direction);
  hb_buffer_set_script(buffer_, run.script);
  hb_buffer_guess_segment_properties(buffer_);
  hb_shape(fonts_[run.font].hb, buffer_, nullptr, 0);
  unsigned count = 0;
  const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer_, &count);
  const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer_, &count);
  for (unsigned i = 0; i < count; ++i) {
    // hb-ft fonts are scaled so that positions come out in 26.6; HarfBuzz's y
    // points up, the layout's down. Clusters index `chars`, context included.
    placed_.push_back({run.font, infos[i].codepoint, pen + positions[i].x_offset,
                       -FT_Pos{positions[i].y_offset}, static_cast<int>(infos[i].cluster)});
    pen += positions[i].x_advance;
  }
}

bool FreeTypeFace::SplitBidiRuns(const std::vector<std::uint32_t>& chars, std::size_t length) {
  const auto n = static_cast<FriBidiStrIndex>(length);
  bidiTypes_.resize(length);
  brackets_.resize(length);
  levels_.resize(length);
  visualToLogical_.resize(length);
  fribidi_get_bidi_types(chars.data(), n, bidiTypes_.data());
  fribidi_get_bracket_types(chars.data(), n, bidiTypes_.data(), brackets_.data());
  FriBidiParType direction = FRIBIDI_PAR_ON;  // from the first strong character
  if (fribidi_get_par_embedding_levels_ex(bidiTypes_.data(), brackets_.data(), n, &direction,
                                          levels_.data()) == 0) {
    return false;
  }
  std::iota(visualToLogical_.begin(), visualToLogical_.end(), 0);
  // No reordering of marks: HarfBuzz places them on their bases.
  if (fribidi_reorder_line(0, bidiTypes_.data(), n, 0, direction, levels_.data(), nullptr,
                           visualToLogical_.data()) == 0) {
    return false;
  }
  // A character of a shared script takes the script of the one before it;
  // those at the start, of the first one with a script of its own.
  lineScripts_.assign(length, HB_SCRIPT_COMMON);
  hb_script_t current = HB_SCRIPT_INVALID;
  for (std::size_t i = 0; i < length; ++i) {
    const hb_script_t script = ScriptOf(chars[i]);
    if (!IsSharedScript(script)) {
      if (current == HB_SCRIPT_INVALID) std::fill_n(lineScripts_.begin(), i, script);
      current = script;
    }
    if (current != HB_SCRIPT_INVALID) lineScripts_[i] = current;
  }
  // Each run is a stretch of one level, so it stands in one piece after
  // reordering, and the runs stand in the order of their first characters'
  // places.
  for (std::size_t i = 0; i < length;) {
    std::size_t end = i + 1;
    while (end < length && levels_[end] == levels_[i] && lineFonts_[end] == lineFonts_[i] &&
           lineScripts_[end] == lineScripts_[i]) {
      ++end;
    }
    const hb_direction_t runDirection =
        FRIBIDI_LEVEL_IS_RTL(levels_[i]) ? HB_DIRECTION_RTL : HB_DIRECTION_LTR;
    runs_.push_back({i, end - i, lineFonts_[i], runDirection, lineScripts_[i], 0});
    i = end;
  }
  for (std::size_t v = 0; v < length; ++v) {
    // runs_ is in typed order, so its starts are sorted.
    const auto logical = static_cast<std::size_t>(visualToLogical_[v]);
    const auto run = std::lower_bound(runs_.begin(), runs_.end(), logical,
                                      [](const Run& r, std::size_t at) { return r.start < at; });
    if (run != runs_.end() && run->start == logical) run->order = static_cast<int>(v);
  }
  std::sort(runs_.begin(), runs_.end(),
            [](const Run& a, const Run& b) { return a.order < b.order; });
  return true;
}

void FreeTypeFace::LayOutLine(const std::vector<std::uint32_t>& chars) {
  Line line{placed_.size(), 0, 0};
  std::size_t length = chars.size();
  while (length > 0 && IsSpace(chars[length - 1])) --length;
  lineFonts_.clear();
  bool rightToLeft = false;
  for (std::size_t i = 0; i < length; ++i) {
    lineFonts_.push_back(FontFor(chars[i], i > 0 ? lineFonts_[i - 1] : -1));
    rightToLeft = rightToLeft || IsRightToLeft(chars[i]);
  }
  runs_.clear();
  if (!rightToLeft || !SplitBidiRuns(chars, length)) {
    runs_.clear();
    for (std::size_t start = 0; start < length;) {
      std::size_t end = start + 1;
      while (end < length && lineFonts_[end] == lineFonts_[start]) ++end;
      runs_.push_back(
          {start, end - start, lineFonts_[start], HB_DIRECTION_INVALID, HB_SCRIPT_INVALID, 0});
      start = end;
    }
  }
  FT_Pos pen = 0;
  for (const Run& run : runs_) ShapeRun(chars, run, pen);
  line.count = placed_.size() - line.first;
  line.width = pen;
  lines_.push_back(line);
}

bool FreeTypeFace::LayOut(std::string_view utf8) {
  // A text is measured and then drawn: the second call finds its layout.
  if (haveLayout_ && utf8 == laidOutText_) return laidOutInk_;
  if (const auto it = kept_.find(utf8); it != kept_.end()) {
    placed_.swap(it->second.placed);
    lines_.swap(it->second.lines);
    laidOutText_.assign(utf8);
    laidOutInk_ = it->second.ink;
    haveLayout_ = true;
    keptBytes_ -= it->second.bytes;
    kept_.erase(it);
    return laidOutInk_;
  }
  haveLayout_ = false;
  decoded_.clear();
  placed_.clear();
  lines_.clear();
  DecodeUtf8(utf8, decoded_);
  lineChars_.clear();
  for (char32_t c : decoded_) {
    if (c == '\n') {
      LayOutLine(lineChars_);
      lineChars_.clear();
    } else if (c == '\t') {
      lineChars_.push_back(' ');
    } else if (c >= 0x20 && c != 0x7F) {
      lineChars_.push_back(c);
    }
    // Other control characters (carriage returns among them) draw nothing
    // and take no room.
  }
  // A line feed at the very end closes the last line without opening another.
  if (!lineChars_.empty() || decoded_.empty() || decoded_.back() != '\n') LayOutLine(lineChars_);

  bool ink = false;
  for (const PlacedGlyph& g : placed_) {
    if (!glyphs_.Get(g.font, fonts_[g.font].face, g.glyph).empty()) {
      ink = true;
      break;
    }
  }
  laidOutText_.assign(utf8);
  laidOutInk_ = ink;
  haveLayout_ = true;
  return ink;
}

void FreeTypeFace::KeepLayout(std::string_view utf8) {
  // A text laid out twice (the same words on two lines) is kept once; the
  // second drawing lays it out again.
  if (kept_.find(utf8) != kept_.end()) return;
  const bool ink = LayOut(utf8);
  const std::size_t bytes = utf8.size() + placed_.size() * sizeof(PlacedGlyph) +
                            lines_.size() * sizeof(Line) + sizeof(KeptLayout) + 64;
  if (keptBytes_ + bytes > kKeptBytes) return;
  kept_.emplace(std::string(utf8), KeptLayout{placed_, lines_, ink, bytes});
  keptBytes_ += bytes;
}

FT_Pos FreeTypeFace::WidestLine() const {
  FT_Pos widest = 0;
  for (const Line& line : lines_) widest = std::max(widest, line.width);
  return widest;
}

TextBox FreeTypeFace::Measure(std::string_view utf8) {
  if (!LayOut(utf8)) return {};
  const FT_Pos width = WidestLine() + 2 * kMargin;
  const FT_Pos height = static_cast<FT_Pos>(lines_.size()) * lineSpacing_;
  return {static_cast<float>(width / 64.0), static_cast<float>(height / 64.0)};
}

// Glyph rows are short (about 25 pixels at 48 pixels to the em), and a loop
// of whole vectors spends most of its time in its scalar tail. Instead
// `step(i)` runs on the four pixels from i, at multiples of four and once
// more on the last four: a step that gives the same result when run twice on
// a pixel may overlap another. Rows shorter than four pixels go one pixel at
// a time through `single(i)`.
template <typename Step, typename Single>
inline void ForFourPixels(long n, Step step, Single single) {
  if (n < 4) {
    for (long i = 0; i < n; ++i) single(i);
    return;
  }
  for (long i = 0; i + 4 < n; i += 4) step(i);
  step(n - 4);
}

// The same for a step that writes `row`: fourPixels(i) gives the new value
// of the four pixels from i, computed from the pixels of row + i, and the
// new value of a pixel must not depend on whether it was computed before or
// after the pixel was written. The last four are computed first, from the
// pixels as they are, and written last: a step that read pixels a step just
// before it had written would wait for that write.
template <typename FourPixels, typename Single>
inline void PutFourPixels(long n, Argb* row, FourPixels fourPixels, Single single) {
  if (n < 4) {
    for (long i = 0; i < n; ++i) single(i);
    return;
  }
  const __m128i last = fourPixels(n - 4);
  for (long i = 0; i + 4 < n; i += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), fourPixels(i));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(row + n - 4), last);
}

// Blends `image`, its top-left pixel at (left, top) of `target`, coloured
// with `colour`; pixels outside `target` are skipped. Returns true when
// every row of the image met only transparent pixels. When `clearFrom` is
// given, the pixels of each target row y from column clearFrom[y] on are
// known to be transparent, and the glyph moves it on past its own.
bool BlendGlyph(const GlyphImage& image, long left, long top, Argb colour, ArgbBitmap& target,
                long* clearFrom) {
  const long x0 = std::max(0L, left);
  const long y0 = std::max(0L, top);
  const long x1 = std::min(static_cast<long>(target.width()), left + image.width);
  const long y1 = std::min(static_cast<long>(target.height()), top + image.rows);
  if (x0 >= x1) return true;
  bool overTransparent = true;
  const unsigned brushAlpha = AlphaOf(colour);
  const Argb rgb = colour & 0x00FFFFFF;
  for (long y = y0; y < y1; ++y) {
    // cover[i] is the coverage at column x0 + i of `row`.
    const std::uint8_t* cover =
        image.coverage.data() + static_cast<std::size_t>(y - top) * image.width + (x0 - left);
    Argb* row = target.Row(static_cast<int>(y)) + x0;
    const long n = x1 - x0;
    // Over transparent pixels (as a fresh picture is, except where glyphs
    // overlap) BlendOver gives the source, or keeps the pixel where the
    // source alpha is 0 (as for coverage 0, which adds nothing): four
    // pixels at a time. The translucent brush's division by 255 is done as
    // (v + 1 + (v >> 8)) >> 8, equal to v / 255 for v <= 65534; here
    // v <= 255 * 255 + 127.
    unsigned drawn = 0;
    if (clearFrom != nullptr && x0 >= clearFrom[y]) {
      // Right of every glyph drawn before on this row: transparent.
      clearFrom[y] = x1;
    } else {
      if (clearFrom != nullptr) clearFrom[y] = std::max(clearFrom[y], x1);
      __m128i drawnLanes = _mm_setzero_si128();
      ForFourPixels(
          n,
          [&](long i) {
            drawnLanes = _mm_or_si128(drawnLanes,
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)));
          },
          [&](long i) { drawn |= row[i]; });
      drawn =
          AlphaOf(drawn) |
          (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_srli_epi32(drawnLanes, 24), _mm_setzero_si128())) ^
           0xFFFF);
    }
    if (drawn == 0) {
      if (brushAlpha == 255) {
        // An opaque brush: (c * 255 + 127) / 255 = c for every coverage c.
        // Four coverage bytes are widened to 32-bit lanes by two unpacks.
        const __m128i zero = _mm_setzero_si128();
        const __m128i brush = _mm_set1_epi32(static_cast<int>(rgb));
        PutFourPixels(
            n, row,
            [&](long i) {
              int four;
              std::memcpy(&four, cover + i, sizeof four);
              const __m128i c =
                  _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero);
              const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
              const __m128i keep = _mm_cmpeq_epi32(c, zero);
              const __m128i drawnPixels = _mm_or_si128(_mm_slli_epi32(c, 24), brush);
              return _mm_or_si128(_mm_and_si128(keep, pixels), _mm_andnot_si128(keep, drawnPixels));
            },
            [&](long i) { row[i] = cover[i] != 0 ? (Argb{cover[i]} << 24) | rgb : row[i]; });
        continue;
      }
      for (long i = 0; i < n; ++i) {
        const unsigned v = cover[i] * brushAlpha + 127;
        const unsigned alpha = (v + 1 + (v >> 8)) >> 8;
        row[i] = alpha != 0 ? (Argb{alpha} << 24) | rgb : row[i];
      }
      continue;
    }
    overTransparent = false;
    for (long i = 0; i < n; ++i) {
      const unsigned alpha = (cover[i] * brushAlpha + 127) / 255;
      row[i] = BlendOver((Argb{alpha} << 24) | rgb, row[i]);
    }
  }
  return overTransparent;
}

template <typename Visit>
void FreeTypeFace::ForEachImage(Visit visit) {
  const FT_Pos boxWidth = WidestLine() + 2 * kMargin;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    // Both widths are whole 26.6 values >= 0; the centred start is too.
    const FT_Pos lineLeft = (boxWidth - line.width) / 2;
    const FT_Pos baseline = static_cast<FT_Pos>(i) * lineSpacing_ + ascender_;
    for (std::size_t k = line.first; k < line.first + line.count; ++k) {
      const PlacedGlyph& g = placed_[k];
      const GlyphImage& image = glyphs_.Get(g.font, fonts_[g.font].face, g.glyph);
      if (image.empty()) continue;
      const long originX = RoundToPixel(lineLeft + g.x);
      const long originY = RoundToPixel(baseline + g.y);
      visit(image, originX + image.left, originY - image.top);
    }
  }
}

TextOverhang FreeTypeFace::Overhang(std::string_view utf8) {
  const TextBox box = Measure(utf8);
  if (box.width == 0) return {};
  // The box as callers truncate it.
  const auto width = static_cast<long>(box.width);
  const auto height = static_cast<long>(box.height);
  long left = 0, top = 0, right = width, bottom = height;
  // Glyph images hold no blank edge rows or columns, so their bounds are
  // those of the drawn pixels.
  ForEachImage([&](const GlyphImage& image, long x, long y) {
    left = std::min(left, x);
    top = std::min(top, y);
    right = std::max(right, x + image.width);
    bottom = std::max(bottom, y + image.rows);
  });
  return {static_cast<int>(-top), static_cast<int>(bottom - height), static_cast<int>(-left),
          static_cast<int>(right - width)};
}

TextDrawing FreeTypeFace::Prepare(std::string_view utf8, Argb colour, int x, int y) {
  std::vector<TextDrawing::Glyph> glyphs;
  TextLines lines;
  if (LayOut(utf8)) {
    ForEachImage([&](const GlyphImage& image, long left, long top) {
      glyphs.push_back({&image, x + left, y + top});
    });
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      lines.tops.push_back(y + RoundToPixel(static_cast<FT_Pos>(i) * lineSpacing_));
    }
    lines.baseline = static_cast<int>(RoundToPixel(ascender_));
    lines.spacing = static_cast<int>(RoundToPixel(lineSpacing_));
  }
  return TextDrawing(colour, std::move(glyphs), std::move(lines));
}

std::vector<std::vector<TextFace::ShapedGlyph>> FreeTypeFace::Glyphs(std::string_view utf8) {
  LayOut(utf8);
  std::vector<std::vector<ShapedGlyph>> glyphs;
  for (const Line& line : lines_) {
    glyphs.emplace_back();
    for (std::size_t k = line.first; k < line.first + line.count; ++k) {
      glyphs.back().push_back({placed_[k].cluster, placed_[k].glyph});
    }
  }
  return glyphs;
}

// A script of the missing-font warning: its name and a Debian package with a
// font for it. The packages that tools/setup.sh installs are the ones checked
// to leave the fonts picked for other scripts as they are.
struct ScriptFont {
  hb_script_t script;
  const char* name;
  const char* package;
};
constexpr ScriptFont kScriptFonts[] = {
    {HB_SCRIPT_HAN, "Han", "fonts-wqy-microhei"},
    {HB_SCRIPT_HANGUL, "Hangul", "fonts-wqy-microhei"},
    {HB_SCRIPT_HIRAGANA, "Hiragana", "fonts-ipafont-gothic"},
    {HB_SCRIPT_KATAKANA, "Katakana", "fonts-ipafont-gothic"},
    {HB_SCRIPT_THAI, "Thai", "fonts-thai-tlwg"},
    {HB_SCRIPT_DEVANAGARI, "Devanagari", "fonts-lohit-deva"},
    {HB_SCRIPT_BENGALI, "Bengali", "fonts-lohit-beng-bengali"},
    {HB_SCRIPT_TAMIL, "Tamil", "fonts-lohit-taml"},
    {HB_SCRIPT_TELUGU, "Telugu", "fonts-lohit-telu"},
    {HB_SCRIPT_ARABIC, "Arabic", "fonts-kacst"},
    {HB_SCRIPT_HEBREW, "Hebrew", "culmus"},
    {HB_SCRIPT_LAO, "Lao", "fonts-lao"},
    {HB_SCRIPT_KHMER, "Khmer", "fonts-khmeros"},
    {HB_SCRIPT_MYANMAR, "Myanmar", "fonts-sil-padauk"},
    {HB_SCRIPT_ETHIOPIC, "Ethiopic", "fonts-sil-abyssinica"},
    {HB_SCRIPT_COMMON, "symbols", "fonts-symbola"},
};

}  // namespace

TextDrawing TextFace::Prepare(std::string_view utf8, Argb colour, int x, int y) {
  const TextBox box = Measure(utf8);
  ArgbBitmap picture(static_cast<int>(box.width), static_cast<int>(box.height));
  Draw(utf8, colour, picture);
  return TextDrawing(std::move(picture), x, y);
}

bool TextDrawing::BlendGlyphs(ArgbBitmap& target, long* clearFrom) const {
  bool overTransparent = true;
  for (const Glyph& g : glyphs_) {
    overTransparent &= BlendGlyph(*g.image, g.left, g.top, colour_, target, clearFrom);
  }
  return overTransparent;
}

bool TextDrawing::DrawOn(ArgbBitmap& target) const {
  if (drawnBefore_) {
    target.DrawOver(picture_, x_, y_);
    return false;
  }
  return BlendGlyphs(target, nullptr);
}

bool TextDrawing::DrawOnClear(ArgbBitmap& target, int width, int height) const {
  target.Reset(width, height, 0);
  if (drawnBefore_) return DrawOn(target);
  std::vector<long> clearFrom(static_cast<std::size_t>(std::max(height, 0)), 0);
  return BlendGlyphs(target, clearFrom.data());
}

std::string MissingFontMessage(char32_t c) {
  const hb_script_t script = ScriptOf(c);
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  // Scripts not in the table go by their four-letter ISO 15924 code.
  char tag[5] = {};
  hb_tag_to_string(hb_script_to_iso15924_tag(script), tag);
  std::string name = tag;
  const char* package = nullptr;
  for (const ScriptFont& entry : kScriptFonts) {
    if (entry.script == script) {
      name = entry.name;
      package = entry.package;
    }
  }
  std::string message =
      std::string("no installed font has ") + code + " (" + name + "); drawn as a box; ";
  message += "install a font for it";
  if (package != nullptr) message += std::string(", for instance ") + package;
  return message;
}

std::unique_ptr<TextFace> TextFace::OpenSubtitleFont(std::string& error) {
  auto face = std::make_unique<FreeTypeFace>();
  std::string message;
  if (!face->Open(message)) {
    error = message;
    return nullptr;
  }
  return face;
}

}  // namespace kelpie
