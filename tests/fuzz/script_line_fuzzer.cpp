// Feeds one script line to the reader and checks what it hands on: an event
// whose times fit the stream's clock, an opaque colour, a text no longer than
// the line, and a play resolution inside its limits.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/script_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kelpie;
  const auto check = [](bool ok) {
    if (!ok) __builtin_trap();
  };
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  PlayRes res{1920, 1080};
  SubtitleEvent event;
  std::string warning;
  const LineKind kind = ReadScriptLine(line, res, event, warning);
  if (kind == LineKind::kEvent) {
    check(event.start >= 0 && event.start <= event.end && event.end <= kMaxEndMs);
    // Escapes never make the text longer than the line it came from.
    check(event.colour >> 24 == 0xFF && event.text.size() <= line.size() &&
          event.text.find('\0') == std::string::npos);
  } else if (kind == LineKind::kPlayRes) {
    check(res.x >= kMinPlayRes && res.x <= kMaxPlayRes);
    check(res.y >= kMinPlayRes && res.y <= kMaxPlayRes);
  } else {
    // A skipped line says why, an ignored one says nothing; neither changes
    // the play resolution.
    check(warning.empty() == (kind == LineKind::kIgnored) && res.x == 1920 && res.y == 1080);
  }
  return 0;
}
