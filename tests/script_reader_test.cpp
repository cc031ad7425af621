#include "driver/script_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace kelpie {
namespace {

using namespace std::string_view_literals;
using enum LineKind;

constexpr std::uint32_t kWhite = 0xFFFFFFFF;

struct Result {
  LineKind kind;
  SubtitleEvent event;
  std::string warning;
  PlayRes res;  // after the line
};

Result Read(std::string_view line, PlayRes res = {1920, 1080}) {
  Result r;
  r.res = res;
  r.kind = ReadScriptLine(line, r.res, r.event, r.warning);
  return r;
}

// A dialogue line with the given text and the times 0:00:01.00 to 0:00:02.00.
std::string Dialogue(std::string_view text) {
  return "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,," + std::string(text);
}

TEST(ScriptReaderTest, DialogueTimesAndFields) {
  const std::tuple<const char*, int, int, const char*> cases[] = {
      {"Dialogue: 0,0:00:01.50,0:00:03.00,Default,,0,0,0,,Hello", 1500, 3000, "Hello"},
      // Hours, minutes, seconds and centiseconds: (((1*60+2)*60+3)*100+4)*10.
      {"Dialogue: 0,1:02:03.04,1:02:03.05,,,0,0,0,,x", 3723040, 3723050, "x"},
      // A single centisecond digit counts centiseconds, as "%d" reads it.
      {"Dialogue: 0,0:00:01.5,0:00:02.5,,,0,0,0,,x", 1050, 2050, "x"},
      // Zero duration is kept; commas after the ninth belong to the text,
      // which may be empty.
      {"Dialogue: 0,0:00:05.00,0:00:05.00,,,0,0,0,,Hello, world, again", 5000, 5000,
       "Hello, world, again"},
      {"Dialogue: 0,0:00:05.00,0:00:06.00,,,0,0,0,,", 5000, 6000, ""},
      // No space after "Dialogue:", and old SSA v4's "Marked=0".
      {"Dialogue:0,0:01:51.80,0:01:55.14,Default,,0,0,0,,Text", 111800, 115140, "Text"},
      {"Dialogue: Marked=0,0:01:51.80,0:01:55.14,Default,NTP,0000,0000,0000,!Effect,Text", 111800,
       115140, "Text"},
      // The last end time that fits the stream's clock.
      {"Dialogue: 0,13:14:34.18,13:14:34.18,Default,,0,0,0,,Hi", 47674180, 47674180, "Hi"},
  };
  for (const auto& [line, start, end, text] : cases) {
    const Result r = Read(line);
    EXPECT_EQ(std::tuple(r.kind, r.event.start, r.event.end, r.event.text, r.warning),
              std::tuple(kEvent, start, end, text, ""))
        << line;
  }
  // A NUL byte ends the line, with a warning.
  const Result r = Read(Dialogue("Hel\0lo, world"sv));
  EXPECT_EQ(std::tuple(r.kind, r.event.text, r.warning),
            std::tuple(kEvent, "Hel", "NUL byte at column 54 ends the line"));
}

// Lines the program does not use (no warning) and lines it cannot use (with
// their warning); neither changes the play resolution.
TEST(ScriptReaderTest, IgnoredAndSkippedLines) {
  const std::pair<std::string_view, const char*> cases[] = {
      {"", ""},
      {"Comment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hello", ""},
      {"dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hello", ""},
      {" Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hello", ""},
      {"playresx: 1920", ""},
      {"Dialogue", ""},
      // A NUL byte in a line the program does not use is not looked at.
      {"Comment: 0,0:00:01.00\0"sv, ""},
      {"PlayResX: 0", "PlayResX 0 is outside 1 to 8192; 1920 stays"},
      {"PlayResY: 8193", "PlayResY 8193 is outside 1 to 8192; 1080 stays"},
      {"PlayResX: 99999999999999999999999",
       "PlayResX 1000000000000 is outside 1 to 8192; 1920 stays"},
      {"PlayResY: big", "PlayResY has no number; 1080 stays"},
      {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0",
       "dialogue line has fewer than nine commas; skipped"},
      {"Dialogue: 0,0:00:01.00,0:00:02.00,Default\0,,0,0,0,,Hi"sv,
       "NUL byte at column 42 ends the line; dialogue line has fewer than nine commas; skipped"},
      {"Dialogue: 0,0:00:01,0:00:02.00,,,0,0,0,,Hi", "dialogue times do not parse; skipped"},
      // A minus sign on any part, even where the sum would be positive.
      {"Dialogue: 0,0:01:-05.00,0:02:00.00,,,0,0,0,,Hi", "dialogue time is negative; skipped"},
      {"Dialogue: 0,0:00:01.00,0:00:02.-0,,,0,0,0,,Hi", "dialogue time is negative; skipped"},
      {"Dialogue: 0,0:00:03.00,0:00:02.99,,,0,0,0,,Hi", "dialogue ends before it starts; skipped"},
      // 13:14:34.19 is 47,674,190 ms: trunc(47674190 * 90.09) > 0xFFFFFFFF.
      // Absurd numbers neither overflow nor wrap into range.
      {"Dialogue: 0,0:00:01.00,13:14:34.19,,,0,0,0,,Hi",
       "dialogue ends after 13:14:34.184, the last time the stream's clock holds; skipped"},
      {"Dialogue: 0,0:00:01.00,99999999999999999999999:99999999999999:9999999999.99,,,0,0,0,,Hi",
       "dialogue ends after 13:14:34.184, the last time the stream's clock holds; skipped"},
      {"Dialogue: 0,-99999999999999999999999:00:00.00,0:00:02.00,,,0,0,0,,Hi",
       "dialogue time is negative; skipped"},
  };
  for (const auto& [line, warning] : cases) {
    const Result r = Read(line);
    EXPECT_EQ(std::tuple(r.kind, r.warning, r.res.x, r.res.y),
              std::tuple(*warning ? kSkipped : kIgnored, warning, 1920, 1080))
        << line;
  }
}

TEST(ScriptReaderTest, PlayResolution) {
  // The anchor is the middle of the bottom edge of the resolution read so
  // far, halved with truncation; of 1440 x 1080 before any.
  PlayRes res;
  EXPECT_EQ(Read(Dialogue("x"), res).event.x, 720);
  // Read in turn: the value follows the colon, with or without spaces and
  // tabs; text after the number is not looked at; 1 and 8192 are taken.
  const std::tuple<std::string_view, int, int, const char*> cases[] = {
      {"PlayResX: 1279 pixels", 1279, 1080, ""},
      {"PlayResY: 720", 1279, 720, ""},
      {"PlayResX:1280", 1280, 720, ""},
      {"PlayResY:\t \t576", 1280, 576, ""},
      {"PlayResX: 1", 1, 576, ""},
      {"PlayResY: 8192", 1, 8192, ""},
      {"PlayResX: 65\0x"sv, 65, 8192, "NUL byte at column 13 ends the line"},
  };
  for (const auto& [line, x, y, warning] : cases) {
    const Result r = Read(line, res);
    res = r.res;
    EXPECT_EQ(std::tuple(r.kind, res.x, res.y, r.warning), std::tuple(kPlayRes, x, y, warning))
        << line;
  }
  const Result r = Read(Dialogue("x"), res);
  EXPECT_EQ(std::pair(r.event.x, r.event.y), std::pair(32, 8192));
}

// What the text's override blocks give: the anchor, the colour and the text
// proper, with a play resolution of 1920 x 1080.
TEST(ScriptReaderTest, OverrideBlocksAndTextProper) {
  const std::tuple<const char*, int, int, std::uint32_t, const char*> cases[] = {
      // The numbers after "\pos(", not after the block's first '('.
      {"{\\fad(200,200)\\pos(100,600)}Hi", 100, 600, kWhite, "Hi"},
      // Fractions are truncated toward zero.
      {"{\\pos(100.7,-20.9)}Hi", 100, -20, kWhite, "Hi"},
      {"{\\pos( -30 , +40 )}Hi", -30, 40, kWhite, "Hi"},
      // The first "\pos" of the first block counts; that block need not
      // start the text.
      {"{\\pos(1,2)\\pos(3,4)}Hi", 1, 2, kWhite, "Hi"},
      {"{\\b1}Hi{\\pos(1,2)}", 960, 1080, kWhite, "Hi"},
      {"Hi{\\pos(1,2)}", 1, 2, kWhite, "Hi"},
      // Not a position: the anchor stays.
      {"{\\pos(1,x)}Hi", 960, 1080, kWhite, "Hi"},
      {"{\\pos(3000000000,1)}Hi", 960, 1080, kWhite, "Hi"},
      // Blue, green, red; an alpha byte is dropped; of more digits the last
      // eight count.
      {"{\\c&H0000FF&}Hi", 960, 1080, 0xFFFF0000, "Hi"},
      {"{\\c&Hc0ffee}Hi", 960, 1080, 0xFFEEFFC0, "Hi"},
      {"{\\c&H123456789&}Hi", 960, 1080, 0xFF896745, "Hi"},
      // Outline, shadow and secondary colours do not colour the text; the
      // first of several colour tags counts.
      {"{\\3c&H0000FF&\\c&H00FF00&}Hi", 960, 1080, 0xFF00FF00, "Hi"},
      {"{\\1c&HFF0000&\\c&H0000FF&}Hi", 960, 1080, 0xFF0000FF, "Hi"},
      // The digits follow the tag's own "&H", not the block's first 'H'.
      {"{\\fnHelvetica\\c&H0000FF&}Hi", 960, 1080, 0xFFFF0000, "Hi"},
      // Every "\N" is a line break (a space, then the line feed); "\n" is a
      // space, "\h" a no-break space; another backslash stays.
      {"One\\NTwo", 960, 1080, kWhite, "One \nTwo"},
      {"soft\\nbreak", 960, 1080, kWhite, "soft break"},
      {"no\\hbreak", 960, 1080, kWhite, "no\u00A0break"},
      {"\\\\N", 960, 1080, kWhite, "\\ \n"},
      // Every override block is removed, up to its first '}'; text before
      // the first is kept. A '{' without a '}' after it is a literal, and so
      // is the rest.
      {"Before{\\i1}after{\\b0} text", 960, 1080, kWhite, "Beforeafter text"},
      {"{a{b}c", 960, 1080, kWhite, "c"},
      {"{\\b1}x{y\\Nz", 960, 1080, kWhite, "x{y \nz"},
      // Drawings, from "\p<n>" with n > 0 up to "\p0", are removed; a
      // drawing's blocks give no colour or position. "\pos" and "\pbo" are
      // not the drawing tag.
      {"{\\pos(10,20)\\p1}m 0 0 l 1 1", 10, 20, kWhite, ""},
      {"Before{\\p2}m 0 0 l 1 1{\\p0} after", 960, 1080, kWhite, "Before after"},
      {"{\\p-1}Text", 960, 1080, kWhite, "Text"},
      {"{\\p1}m 0 0{\\b1}still drawing{\\p0\\b0}done", 960, 1080, kWhite, "done"},
      {"{\\p1}m 0 0{\\p0\\c&H0000FF&\\pos(1,2)}x", 960, 1080, kWhite, "x"},
      {"{\\pbo5}Text", 960, 1080, kWhite, "Text"},
  };
  for (const auto& [text, x, y, colour, proper] : cases) {
    const Result r = Read(Dialogue(text));
    EXPECT_EQ(std::tuple(r.kind, r.event.x, r.event.y, r.event.colour, r.event.text),
              std::tuple(kEvent, x, y, colour, proper))
        << text;
  }
  // No length limit.
  const std::string long_text(10000, 'a');
  EXPECT_EQ(Read(Dialogue("{\\b1}" + long_text + "\\N" + long_text)).event.text,
            long_text + " \n" + long_text);
}

}  // namespace
}  // namespace kelpie
