// Wrapping of text lines too wide for the frame. Break opportunities come
// from ICU's implementation of the Unicode line breaking algorithm; a piece
// with no opportunity that fits (a long URL, a run of Latin letters) breaks
// between grapheme clusters.
#ifndef KELPIE_RENDER_TEXT_WRAP_H_
#define KELPIE_RENDER_TEXT_WRAP_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_face.h"

namespace kelpie {

// Breaks each line of `text` (lines are separated by line feeds) whose box
// in `face` would be wider than `maxWidth` pixels into as few lines as fit,
// at line-break opportunities. Spaces at a break are dropped; every line
// keeps at least one grapheme cluster, even one that does not fit alone.
// Lines that fit are left exactly as they are.
std::string WrapText(std::string_view text, TextFace& face, std::int64_t maxWidth);

}  // namespace kelpie

#endif  // KELPIE_RENDER_TEXT_WRAP_H_
