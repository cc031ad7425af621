// Interprets one line of an ASS script: the two play-resolution keys and
// "Dialogue:" lines. Everything else is ignored. The reader is tolerant: a
// dialogue line it cannot use is skipped with a warning naming its line.
#ifndef KELPIE_DRIVER_SCRIPT_READER_H_
#define KELPIE_DRIVER_SCRIPT_READER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kelpie {

// The script's play resolution in script pixels; the size of the video that
// the stream's composition segments announce.
struct PlayRes {
  std::int32_t x = 1440;
  std::int32_t y = 1080;
};

struct SubtitleEvent {
  std::int32_t start = 0;             // milliseconds
  std::int32_t end = 0;               // milliseconds
  std::int32_t x = 0;                 // anchor, script pixels: horizontal centre of the text
  std::int32_t y = 0;                 // anchor, script pixels: bottom edge of the text
  std::uint32_t colour = 0xFFFFFFFF;  // 0xAARRGGBB, always opaque
  std::string text;                   // UTF-8, lines separated by '\n', override blocks removed
};

enum class LineKind {
  kIgnored,  // not a line the program uses
  kPlayRes,  // PlayResX or PlayResY was updated
  kEvent,    // *event was filled
  kSkipped,  // a dialogue line that cannot be used; *warning says why
};

// Reads one script line (without its line end). May update `play_res`; fills
// `event` for a usable dialogue line, and `warning` (without file or line
// number) for a skipped one.
LineKind ReadScriptLine(std::string_view line, PlayRes& play_res, SubtitleEvent* event,
                        std::string* warning);

}  // namespace kelpie

#endif  // KELPIE_DRIVER_SCRIPT_READER_H_
