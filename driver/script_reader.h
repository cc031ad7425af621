// Interprets one line of an ASS script: the two play-resolution keys and
// "Dialogue:" lines. Everything else is ignored. The reader is tolerant: a
// dialogue line it cannot use is skipped with a warning naming its line.
//
// The reader does not track sections: a key is recognised wherever it stands,
// at the very start of a line, compared case-sensitively.
#ifndef KELPIE_DRIVER_SCRIPT_READER_H_
#define KELPIE_DRIVER_SCRIPT_READER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "render/subtitle_event.h"

namespace kelpie {

// Limits on what the reader accepts.
constexpr std::int32_t kMinPlayRes = 1;
// No player or decoder holds a larger video.
constexpr std::int32_t kMaxPlayRes = 8192;
// The stream stamps an end time e (ms) as trunc(e * 90.09) in 32 bits, so the
// last end time that fits is 47,674,184 ms (13:14:34.184).
constexpr std::int64_t kMaxEndMs = 47674184;
static_assert(static_cast<std::uint64_t>(kMaxEndMs * 90.09) <= 0xFFFFFFFFu);
static_assert(static_cast<std::uint64_t>((kMaxEndMs + 1) * 90.09) > 0xFFFFFFFFu);

enum class LineKind {
  kIgnored,  // not a line the program uses
  kPlayRes,  // PlayResX or PlayResY was updated
  kEvent,    // the event was filled
  kSkipped,  // a play-resolution or dialogue line that cannot be used; the warning says why
};

// Reads one script line (without its line end). May update `playRes`; fills
// `event` for a usable dialogue line.
// `warning` is cleared, then set (without file or line number) whenever the
// line deserves one: always for kSkipped, and for a NUL byte that cut a line
// of any other kind short. Several reasons are joined by "; ".
//
// A dialogue line is read as: "Dialogue:", the layer (or "Marked=<n>" as old
// SSA v4 scripts write it), start and end as h:mm:ss.cc, and after the ninth
// comma of the line the text. From the text's first override block "{...}"
// only the "\pos(x,y)" position and the "\c"/"\1c" colour are taken; every
// block and every drawing ("\p1" up to "\p0") is removed from the text, "\N"
// starts a new line, "\n" is a space and "\h" a no-break space.
LineKind ReadScriptLine(std::string_view line, PlayRes& playRes, SubtitleEvent& event,
                        std::string& warning);

}  // namespace kelpie

#endif  // KELPIE_DRIVER_SCRIPT_READER_H_
