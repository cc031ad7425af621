#include "driver/script_reader.h"

#include <cinttypes>
#include <cstdio>

namespace kelpie {

namespace {

// The keys are compared over their nine bytes, case-sensitively.
constexpr std::size_t kKeyLength = 9;
constexpr std::string_view kPlayResXKey = "PlayResX:";
constexpr std::string_view kPlayResYKey = "PlayResY:";
constexpr std::string_view kDialogueKey = "Dialogue:";
static_assert(kPlayResXKey.size() == kKeyLength && kPlayResYKey.size() == kKeyLength &&
              kDialogueKey.size() == kKeyLength);
constexpr std::string_view kMarkedPrefix = "Marked=";
constexpr int kTextComma = 9;  // the text starts after the line's ninth comma

// Numbers are kept within +-kNumberCap while they are read, so that no digit
// string, however long, overflows; the time arithmetic below stays far inside
// 64 bits at this cap: |(((h*60+m)*60+s)*100+cs)*10| <= 3,661,010 * cap.
constexpr std::int64_t kNumberCap = 1'000'000'000'000;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void SkipSpacesAndTabs(std::string_view s, std::size_t& pos) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
}

// Reads a decimal integer at pos the way "%d" does: leading white space, an
// optional sign, at least one digit. The value is held at +-kNumberCap.
bool ReadInt(std::string_view s, std::size_t& pos, std::int64_t& value) {
  std::size_t i = pos;
  while (i < s.size() && IsSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i >= s.size() || !IsDigit(s[i])) return false;
  std::int64_t v = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > kNumberCap) v = kNumberCap;
  }
  value = negative ? -v : v;
  pos = i;
  return true;
}

// Reads a coordinate: an integer that may carry a fraction, truncated toward
// zero. It must fit 32 bits.
bool ReadCoordinate(std::string_view s, std::size_t& pos, std::int32_t& value) {
  std::size_t i = pos;
  while (i < s.size() && IsSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  bool anyDigit = false;
  std::int64_t v = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) {
    anyDigit = true;
    v = v * 10 + (s[i] - '0');
    if (v > kNumberCap) v = kNumberCap;
  }
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && IsDigit(s[i]); ++i) anyDigit = true;
  }
  if (!anyDigit || v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(negative ? -v : v);
  pos = i;
  return true;
}

bool Expect(std::string_view s, std::size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

// Reads "h:mm:ss.cc" into milliseconds; each part is "%d", as written.
// *negative tells whether any part carries a minus sign (even "-0").
bool ReadTime(std::string_view s, std::size_t& pos, std::int64_t& ms, bool& negative) {
  const std::size_t begin = pos;
  std::int64_t h, m, sec, cs;
  if (!ReadInt(s, pos, h) || !Expect(s, pos, ':') || !ReadInt(s, pos, m) || !Expect(s, pos, ':') ||
      !ReadInt(s, pos, sec) || !Expect(s, pos, '.') || !ReadInt(s, pos, cs)) {
    return false;
  }
  negative = s.substr(begin, pos - begin).find('-') != std::string_view::npos;
  ms = (((h * 60 + m) * 60 + sec) * 100 + cs) * 10;
  return true;
}

void AddWarning(std::string& warning, std::string_view text) {
  if (!warning.empty()) warning.append("; ");
  warning.append(text);
}

// The value is read after the colon and any spaces or tabs, not from a fixed
// column, so "PlayResX:1920" loses no digit.
LineKind ReadPlayRes(std::string_view line, char axis, std::int32_t& value, std::string& warning) {
  std::size_t pos = kKeyLength;
  SkipSpacesAndTabs(line, pos);
  std::int64_t v = 0;
  char text[160];
  if (!ReadInt(line, pos, v)) {
    std::snprintf(text, sizeof text, "PlayRes%c has no number; %" PRId32 " stays", axis, value);
    AddWarning(warning, text);
    return LineKind::kSkipped;
  }
  if (v < kMinPlayRes || v > kMaxPlayRes) {
    std::snprintf(text, sizeof text, "PlayRes%c %" PRId64 " is outside %d to %d; %" PRId32 " stays",
                  axis, v, kMinPlayRes, kMaxPlayRes, value);
    AddWarning(warning, text);
    return LineKind::kSkipped;
  }
  value = static_cast<std::int32_t>(v);
  return LineKind::kPlayRes;
}

// Appends a piece of text that lies outside override blocks, replacing the
// escapes "\N" (line break), "\n" (space) and "\h" (no-break space). A
// backslash before anything else stays as it is.
void AppendPlainText(std::string_view piece, std::string& text) {
  for (std::size_t i = 0; i < piece.size(); ++i) {
    if (piece[i] == '\\' && i + 1 < piece.size()) {
      const char next = piece[i + 1];
      if (next == 'N') {
        // A space before the line feed keeps the text as long as the two
        // characters it replaces; a trailing space is not measured.
        text.append(" \n");
        ++i;
        continue;
      }
      if (next == 'n') {
        text.push_back(' ');
        ++i;
        continue;
      }
      if (next == 'h') {
        text.append("\xC2\xA0");
        ++i;
        continue;
      }
    }
    text.push_back(piece[i]);
  }
}

// "\pos(x,y)": the first such tag of the block sets the anchor.
void ReadPosition(std::string_view block, SubtitleEvent& event) {
  const std::size_t tag = block.find("\\pos(");
  if (tag == std::string_view::npos) return;
  std::size_t pos = tag + 5;
  std::int32_t x, y;
  if (!ReadCoordinate(block, pos, x)) return;
  SkipSpacesAndTabs(block, pos);
  if (!Expect(block, pos, ',') || !ReadCoordinate(block, pos, y)) return;
  event.x = x;
  event.y = y;
  event.positioned = true;
}

// "\c&H<bbggrr>" or "\1c&H<bbggrr>": the first such tag of the block sets the
// text colour. Outline and shadow colours (\2c, \3c, \4c) do not. The value
// is blue, green, red from high to low byte; an alpha byte above them is
// dropped and the colour stays opaque. Of more than eight digits the last
// eight count.
void ReadColour(std::string_view block, SubtitleEvent& event) {
  const std::size_t plain = block.find("\\c&H");
  const std::size_t primary = block.find("\\1c&H");
  std::size_t digits;
  if (plain != std::string_view::npos && (primary == std::string_view::npos || plain < primary)) {
    digits = plain + 4;
  } else if (primary != std::string_view::npos) {
    digits = primary + 5;
  } else {
    return;
  }
  std::uint32_t v = 0;
  std::size_t i = digits;
  for (; i < block.size() && HexValue(block[i]) >= 0; ++i) {
    v = (v << 4) | static_cast<std::uint32_t>(HexValue(block[i]));
  }
  if (i == digits) return;
  event.colour = 0xFF000000u | (v & 0xFF) << 16 | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

// "\p<n>" switches drawing mode on for n > 0 and off otherwise; the last such
// tag of a block wins. "\pos" and "\pbo" are other tags.
void UpdateDrawingMode(std::string_view block, bool& drawing) {
  for (std::size_t tag = block.find("\\p"); tag != std::string_view::npos;
       tag = block.find("\\p", tag + 2)) {
    std::size_t pos = tag + 2;
    if (pos >= block.size()) break;
    const char c = block[pos];
    if (!IsDigit(c) && c != '-' && c != '+') continue;
    std::int64_t n;
    if (ReadInt(block, pos, n)) drawing = n > 0;
  }
}

// Splits the dialogue text into plain pieces and override blocks. Every block
// is removed, and the text before the first one is kept; only the first block
// gives position and colour. A '{' with no '}' after it is a literal
// character, and so is everything after it.
void ReadText(std::string_view text, SubtitleEvent& event) {
  event.text.clear();
  bool firstBlock = true;
  bool drawing = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('{', i);
    const std::size_t close =
        open == std::string_view::npos ? std::string_view::npos : text.find('}', open + 1);
    if (close == std::string_view::npos) {
      if (!drawing) AppendPlainText(text.substr(i), event.text);
      break;
    }
    if (!drawing) AppendPlainText(text.substr(i, open - i), event.text);
    const std::string_view block = text.substr(open + 1, close - open - 1);
    if (firstBlock) {
      ReadPosition(block, event);
      ReadColour(block, event);
      firstBlock = false;
    }
    UpdateDrawingMode(block, drawing);
    i = close + 1;
  }
}

LineKind ReadDialogue(std::string_view line, const PlayRes& playRes, SubtitleEvent& event,
                      std::string& warning) {
  std::size_t textStart = 0;
  int commas = 0;
  for (std::size_t i = 0; i < line.size() && commas < kTextComma; ++i) {
    if (line[i] == ',') {
      ++commas;
      textStart = i + 1;
    }
  }
  if (commas < kTextComma) {
    AddWarning(warning, "dialogue line has fewer than nine commas; skipped");
    return LineKind::kSkipped;
  }

  std::size_t pos = kKeyLength;
  SkipSpacesAndTabs(line, pos);
  // Old SSA v4 scripts write the first field as "Marked=0"; read like the layer.
  if (line.substr(pos, kMarkedPrefix.size()) == kMarkedPrefix) pos += kMarkedPrefix.size();
  std::int64_t layer, start, end;
  bool startNegative, endNegative;
  if (!ReadInt(line, pos, layer) || !Expect(line, pos, ',') ||
      !ReadTime(line, pos, start, startNegative) || !Expect(line, pos, ',') ||
      !ReadTime(line, pos, end, endNegative)) {
    AddWarning(warning, "dialogue times do not parse; skipped");
    return LineKind::kSkipped;
  }
  if (startNegative || endNegative) {
    AddWarning(warning, "dialogue time is negative; skipped");
    return LineKind::kSkipped;
  }
  if (end < start) {
    AddWarning(warning, "dialogue ends before it starts; skipped");
    return LineKind::kSkipped;
  }
  if (end > kMaxEndMs) {
    AddWarning(warning,
               "dialogue ends after 13:14:34.184, the last time the stream's clock holds; skipped");
    return LineKind::kSkipped;
  }

  event.start = static_cast<std::int32_t>(start);
  event.end = static_cast<std::int32_t>(end);
  event.x = playRes.x / 2;
  event.y = playRes.y;
  event.colour = 0xFFFFFFFF;
  event.positioned = false;
  event.playRes = playRes;
  ReadText(line.substr(textStart), event);
  return LineKind::kEvent;
}

}  // namespace

LineKind ReadScriptLine(std::string_view line, PlayRes& playRes, SubtitleEvent& event,
                        std::string& warning) {
  warning.clear();
  const std::string_view key = line.substr(0, kKeyLength);
  if (key != kPlayResXKey && key != kPlayResYKey && key != kDialogueKey) {
    return LineKind::kIgnored;
  }
  // A NUL byte ends the line's text (only a line that is used gets to say so).
  const std::size_t nul = line.find('\0');
  if (nul != std::string_view::npos) {
    char text[80];
    std::snprintf(text, sizeof text, "NUL byte at column %zu ends the line", nul + 1);
    AddWarning(warning, text);
    line = line.substr(0, nul);
  }
  if (key == kPlayResXKey) return ReadPlayRes(line, 'X', playRes.x, warning);
  if (key == kPlayResYKey) return ReadPlayRes(line, 'Y', playRes.y, warning);
  return ReadDialogue(line, playRes, event, warning);
}

}  // namespace kelpie
