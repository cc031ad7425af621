#include "driver/script_reader.h"

namespace kelpie {

// Placeholder until the reader lands.
LineKind ReadScriptLine(std::string_view, PlayRes&, SubtitleEvent*, std::string*) {
  return LineKind::kIgnored;
}

}  // namespace kelpie
