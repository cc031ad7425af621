#include "platform/font_finder.h"

#include <fontconfig/fontconfig.h>

#include <cstring>
#include <memory>

namespace kelpie {

namespace {

struct PatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

struct CharSetDeleter {
  void operator()(FcCharSet* c) const { FcCharSetDestroy(c); }
};

// A pattern for `name` (a family or a generic family) in the regular upright
// style, ready for matching.
PatternPtr RegularPattern(const char* name) {
  PatternPtr pattern(FcPatternCreate());
  if (!pattern) return nullptr;
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(name));
  FcPatternAddInteger(pattern.get(), FC_WEIGHT, FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern.get(), FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  return pattern;
}

// Runs the configuration's substitutions on `pattern` and returns the best
// installed match, or null.
PatternPtr BestMatch(FcConfig* config, FcPattern* pattern) {
  if (!FcConfigSubstitute(config, pattern, FcMatchPattern)) return nullptr;
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  PatternPtr match(FcFontMatch(config, pattern, &result));
  if (result != FcResultMatch) return nullptr;
  return match;
}

std::optional<FontFile> FileOf(const FcPattern* match) {
  FcChar8* path = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &path) != FcResultMatch) return std::nullopt;
  FontFile file;
  file.path = reinterpret_cast<const char*>(path);
  int index = 0;
  if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) file.index = index;
  FcChar8* family = nullptr;
  if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch) {
    file.family = reinterpret_cast<const char*>(family);
  }
  return file;
}

}  // namespace

FontFinder::FontFinder() : config_(FcInitLoadConfigAndFonts()) {}

FontFinder::~FontFinder() {
  if (config_ != nullptr) FcConfigDestroy(config_);
}

std::optional<FontFile> FontFinder::FindFamily(const char* family) const {
  if (config_ == nullptr) return std::nullopt;
  PatternPtr pattern = RegularPattern(family);
  if (!pattern) return std::nullopt;
  PatternPtr match = BestMatch(config_, pattern.get());
  if (!match) return std::nullopt;
  // fontconfig always offers some font; it is the family asked for only when
  // one of the face's family names (it may have several, in several
  // languages) is exactly that name.
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(match.get(), FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    if (std::strcmp(reinterpret_cast<const char*>(name), family) == 0) return FileOf(match.get());
  }
  return std::nullopt;
}

std::optional<FontFile> FontFinder::FindGeneric(const char* generic) const {
  if (config_ == nullptr) return std::nullopt;
  PatternPtr pattern = RegularPattern(generic);
  if (!pattern) return std::nullopt;
  PatternPtr match = BestMatch(config_, pattern.get());
  if (!match) return std::nullopt;
  return FileOf(match.get());
}

std::optional<FontFile> FontFinder::FindFontWithChar(char32_t codepoint) {
  if (config_ == nullptr) return std::nullopt;
  if (!haveCharsets_) {
    haveCharsets_ = true;
    // The sets FcFontMatch searches, in its order.
    for (const FcSetName name : {FcSetSystem, FcSetApplication}) {
      const FcFontSet* set = FcConfigGetFonts(config_, name);
      for (int i = 0; set != nullptr && i < set->nfont; ++i) {
        FcCharSet* charset = nullptr;
        const bool has =
            FcPatternGetCharSet(set->fonts[i], FC_CHARSET, 0, &charset) == FcResultMatch;
        charsets_.push_back(has ? charset : nullptr);
      }
    }
  }
  std::string fontsWithChar(charsets_.size(), '-');
  for (std::size_t i = 0; i < charsets_.size(); ++i) {
    if (charsets_[i] != nullptr) {
      fontsWithChar[i] = FcCharSetHasChar(charsets_[i], codepoint) ? '1' : '0';
    }
  }
  const auto known = byFontsWithChar_.find(fontsWithChar);
  if (known != byFontsWithChar_.end()) return known->second;
  std::optional<FontFile> found = AskForFontWithChar(codepoint);
  byFontsWithChar_.emplace(std::move(fontsWithChar), found);
  return found;
}

std::optional<FontFile> FontFinder::AskForFontWithChar(char32_t codepoint) const {
  PatternPtr pattern = RegularPattern("sans-serif");
  std::unique_ptr<FcCharSet, CharSetDeleter> wanted(FcCharSetCreate());
  if (!pattern || !wanted) return std::nullopt;
  FcCharSetAddChar(wanted.get(), codepoint);
  // The character set weighs more than the family in fontconfig's matching,
  // so the match has the character whenever any installed font has it.
  FcPatternAddCharSet(pattern.get(), FC_CHARSET, wanted.get());
  PatternPtr match = BestMatch(config_, pattern.get());
  if (!match) return std::nullopt;
  FcCharSet* has = nullptr;
  if (FcPatternGetCharSet(match.get(), FC_CHARSET, 0, &has) != FcResultMatch ||
      !FcCharSetHasChar(has, codepoint)) {
    return std::nullopt;
  }
  return FileOf(match.get());
}

}  // namespace kelpie
