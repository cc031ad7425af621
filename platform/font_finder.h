// Finds font files through fontconfig: the subtitle font by family name, and
// for a character that font lacks, another installed font that has it. The
// finder owns its own fontconfig configuration (loaded once, when it is made),
// so nothing is kept in the library's process-wide default.
#ifndef KELPIE_PLATFORM_FONT_FINDER_H_
#define KELPIE_PLATFORM_FONT_FINDER_H_

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct _FcConfig;
struct _FcCharSet;

namespace kelpie {

// One face of a font file (a collection file holds several, told apart by index).
struct FontFile {
  std::string path;
  int index = 0;
  std::string family;  // the first family name fontconfig gives the face
};

class FontFinder {
 public:
  FontFinder();
  FontFinder(const FontFinder&) = delete;
  FontFinder& operator=(const FontFinder&) = delete;
  ~FontFinder();

  // False when fontconfig could not load its configuration.
  bool ok() const { return config_ != nullptr; }

  // The regular face of exactly the family `family`, or nothing when the
  // best match fontconfig offers carries another family name.
  std::optional<FontFile> FindFamily(const char* family) const;

  // The best regular face for the generic family `generic` ("sans-serif"),
  // whatever family that turns out to be.
  std::optional<FontFile> FindGeneric(const char* generic) const;

  // A regular face, preferably sans-serif, that maps the character
  // `codepoint`; nothing when no installed font has it. Characters that the
  // same installed fonts have get the same face (fontconfig's choice depends
  // on no other property of the character), so it is asked once for each
  // such set of fonts: a script in Chinese asks for a few, not for each of
  // its thousands of characters.
  std::optional<FontFile> FindFontWithChar(char32_t codepoint);

 private:
  // FindFontWithChar without the shortcut: fontconfig's best match.
  std::optional<FontFile> AskForFontWithChar(char32_t codepoint) const;

  _FcConfig* config_ = nullptr;
  // The character set of each installed font, null for a font without one,
  // in the order fontconfig sees the fonts; filled on first use.
  std::vector<const _FcCharSet*> charsets_;
  bool haveCharsets_ = false;
  // Answers by the fonts that have the character: one byte per font of
  // charsets_, '1' has it, '0' lacks it, '-' has no character set.
  std::unordered_map<std::string, std::optional<FontFile>> byFontsWithChar_;
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_FONT_FINDER_H_
