// What the picture stage draws: one dialogue line of the script, with the
// play resolution its anchor and the video size refer to.
#ifndef KELPIE_RENDER_SUBTITLE_EVENT_H_
#define KELPIE_RENDER_SUBTITLE_EVENT_H_

#include <cstdint>
#include <string>

namespace kelpie {

// The script's play resolution in script pixels; the size of the video that
// the stream's composition segments announce.
struct PlayRes {
  std::int32_t x = 1440;
  std::int32_t y = 1080;
};

struct SubtitleEvent {
  std::int32_t start = 0;             // milliseconds
  std::int32_t end = 0;               // milliseconds, at least start
  std::int32_t x = 0;                 // anchor, script pixels: horizontal centre of the text
  std::int32_t y = 0;                 // anchor, script pixels: bottom edge of the text
  std::uint32_t colour = 0xFFFFFFFF;  // 0xAARRGGBB, always opaque
  // UTF-8, override blocks and drawings removed; lines separated by line
  // feeds, each "\N" written as " \n" (the space is trailing, so it is not
  // measured); no line feed at the end.
  std::string text;
  bool positioned = false;  // the script placed it with "\pos": a sign, never moved aside
  PlayRes playRes;          // the play resolution in force where the line was read
  long line = 0;            // its line number in the script (1-based), for messages
};

}  // namespace kelpie

#endif  // KELPIE_RENDER_SUBTITLE_EVENT_H_
