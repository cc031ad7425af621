// Feeds one script line to the reader and checks what it hands on: an event
// whose times fit the stream's clock, an opaque colour, a text no longer than
// the line, and a play resolution inside its limits.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/script_reader.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  kelpie::PlayRes res;
  res.x = 1920;
  kelpie::SubtitleEvent event;
  std::string warning;
  const kelpie::LineKind kind = kelpie::ReadScriptLine(line, res, event, warning);
  switch (kind) {
    case kelpie::LineKind::kEvent:
      Check(event.start >= 0 && event.start <= event.end && event.end <= kelpie::kMaxEndMs);
      Check(event.colour >> 24 == 0xFF);
      // Escapes never make the text longer than the line it came from.
      Check(event.text.size() <= line.size());
      Check(event.text.find('\0') == std::string::npos);
      break;
    case kelpie::LineKind::kPlayRes:
      Check(res.x >= kelpie::kMinPlayRes && res.x <= kelpie::kMaxPlayRes);
      Check(res.y >= kelpie::kMinPlayRes && res.y <= kelpie::kMaxPlayRes);
      break;
    case kelpie::LineKind::kSkipped:
      Check(!warning.empty());
      Check(res.x == 1920 && res.y == 1080);
      break;
    case kelpie::LineKind::kIgnored:
      Check(warning.empty());
      Check(res.x == 1920 && res.y == 1080);
      break;
  }
  return 0;
}
