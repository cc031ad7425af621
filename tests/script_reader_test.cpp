#include "driver/script_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/script_file.h"

namespace kelpie {
namespace {

struct Result {
  LineKind kind;
  SubtitleEvent event;
  std::string warning;
};

Result Read(std::string_view line, PlayRes& res) {
  Result r;
  r.event.text = "stale";
  r.kind = ReadScriptLine(line, res, r.event, r.warning);
  return r;
}

Result Read(std::string_view line) {
  PlayRes res;
  return Read(line, res);
}

// A dialogue line with the given text and the times 0:00:01.00 to 0:00:02.00.
std::string Dialogue(std::string_view text) {
  return "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,," + std::string(text);
}

// The text proper of a dialogue line, or "<skipped>".
std::string TextOf(std::string_view text) {
  Result r = Read(Dialogue(text));
  return r.kind == LineKind::kEvent ? r.event.text : "<skipped>";
}

TEST(ScriptReaderTest, PlainDialogueLine) {
  Result r = Read("Dialogue: 0,0:00:01.50,0:00:03.00,Default,,0,0,0,,Hello");
  ASSERT_EQ(r.kind, LineKind::kEvent);
  EXPECT_EQ(r.event.start, 1500);
  EXPECT_EQ(r.event.end, 3000);
  EXPECT_EQ(r.event.x, 720);  // 1440 / 2: no play resolution read yet
  EXPECT_EQ(r.event.y, 1080);
  EXPECT_EQ(r.event.colour, 0xFFFFFFFFu);
  EXPECT_EQ(r.event.text, "Hello");  // the line end is not part of the text
  EXPECT_EQ(r.warning, "");

  // Commas after the ninth belong to the text; an empty text is an event.
  EXPECT_EQ(TextOf("Hello, world, again"), "Hello, world, again");
  EXPECT_EQ(TextOf(""), "");
  // Hours, minutes, seconds and centiseconds: (((1*60+2)*60+3)*100+4)*10.
  r = Read("Dialogue: 0,1:02:03.04,1:02:03.05,Default,,0,0,0,,x");
  EXPECT_EQ(r.event.start, 3723040);
  EXPECT_EQ(r.event.end, 3723050);
  // A single centisecond digit counts centiseconds, as "%d" reads it.
  EXPECT_EQ(Read("Dialogue: 0,0:00:01.5,0:00:02.5,,,0,0,0,,x").event.start, 1050);
  // Zero duration is kept.
  r = Read("Dialogue: 0,0:00:05.00,0:00:05.00,Default,,0,0,0,,x");
  EXPECT_EQ(r.kind, LineKind::kEvent);
}

TEST(ScriptReaderTest, OtherLinesAreIgnored) {
  for (const char* line : {"", "Comment: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hello",
                           "dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hello",
                           " Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hello",
                           "playresx: 1920", "PlayResZ: 1920", "Dialogue"}) {
    PlayRes res;
    Result r = Read(line, res);
    EXPECT_EQ(r.kind, LineKind::kIgnored) << line;
    EXPECT_EQ(r.warning, "") << line;
    EXPECT_EQ(res.x, 1440) << line;
    EXPECT_EQ(r.event.text, "stale") << line;
  }
}

TEST(ScriptReaderTest, PlayResolution) {
  PlayRes res;
  EXPECT_EQ(Read("PlayResX: 1920", res).kind, LineKind::kPlayRes);
  EXPECT_EQ(Read("PlayResY: 720", res).kind, LineKind::kPlayRes);
  EXPECT_EQ(res.x, 1920);
  EXPECT_EQ(res.y, 720);
  // The value follows the colon, with or without spaces and tabs: no digit is lost.
  Read("PlayResX:1280", res);
  EXPECT_EQ(res.x, 1280);
  Read("PlayResY:\t \t576", res);
  EXPECT_EQ(res.y, 576);
  Read("PlayResX: 1279 pixels", res);  // text after the number is not looked at
  EXPECT_EQ(res.x, 1279);
  Read("PlayResY: +1080", res);
  EXPECT_EQ(res.y, 1080);

  // The anchor uses the resolution read so far, halved with truncation.
  Result r = Read(Dialogue("x"), res);
  EXPECT_EQ(r.event.x, 639);
  EXPECT_EQ(r.event.y, 1080);

  // Bounds: 1 and 8192 are taken.
  Read("PlayResX: 1", res);
  EXPECT_EQ(res.x, 1);
  Read("PlayResY: 8192", res);
  EXPECT_EQ(res.y, 8192);

  struct Bad {
    const char* line;
    const char* warning;
  };
  const Bad bad[] = {
      {"PlayResX: 0", "PlayResX 0 is outside 1 to 8192; 1920 stays"},
      {"PlayResY: 8193", "PlayResY 8193 is outside 1 to 8192; 1080 stays"},
      {"PlayResX: -640", "PlayResX -640 is outside 1 to 8192; 1920 stays"},
      {"PlayResX: 99999999999999999999999",
       "PlayResX 1000000000000 is outside 1 to 8192; 1920 stays"},
      {"PlayResY: big", "PlayResY has no number; 1080 stays"},
      {"PlayResX:", "PlayResX has no number; 1920 stays"},
  };
  for (const Bad& b : bad) {
    PlayRes kept{1920, 1080};
    r = Read(b.line, kept);
    EXPECT_EQ(r.kind, LineKind::kSkipped) << b.line;
    EXPECT_EQ(r.warning, b.warning) << b.line;
    EXPECT_EQ(kept.x, 1920) << b.line;
    EXPECT_EQ(kept.y, 1080) << b.line;
  }
}

TEST(ScriptReaderTest, FirstFieldAndKeySpacing) {
  // No space after "Dialogue:", spaces and tabs, and old SSA v4's "Marked=0".
  for (const char* line : {"Dialogue:0,0:01:51.80,0:01:55.14,Default,,0,0,0,,Text",
                           "Dialogue: \t3,0:01:51.80,0:01:55.14,Default,,0,0,0,,Text",
                           "Dialogue: Marked=0,0:01:51.80,0:01:55.14,Default,NTP,0000,0000,0000,"
                           "!Effect,Text",
                           "Dialogue:Marked=1,0:01:51.80,0:01:55.14,Default,,0,0,0,,Text"}) {
    Result r = Read(line);
    ASSERT_EQ(r.kind, LineKind::kEvent) << line;
    EXPECT_EQ(r.event.start, 111800) << line;
    EXPECT_EQ(r.event.end, 115140) << line;
    EXPECT_EQ(r.event.text, "Text") << line;
  }
}

TEST(ScriptReaderTest, UnusableDialogueLinesAreSkippedWithTheirReason) {
  struct Bad {
    const char* line;
    const char* warning;
  };
  const Bad bad[] = {
      {"Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0",
       "dialogue line has fewer than nine commas; skipped"},
      {"Dialogue:", "dialogue line has fewer than nine commas; skipped"},
      {"Dialogue: x,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi",
       "dialogue times do not parse; skipped"},
      {"Dialogue: 0,0:00:01,0:00:02.00,Default,,0,0,0,,Hi", "dialogue times do not parse; skipped"},
      {"Dialogue: 0,0:00:01.00;0:00:02.00,Default,,0,0,0,,,Hi",
       "dialogue times do not parse; skipped"},
      {"Dialogue: Marked=,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi",
       "dialogue times do not parse; skipped"},
      {"Dialogue: 0,-0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi",
       "dialogue time is negative; skipped"},
      {"Dialogue: 0,0:00:01.00,-1:00:02.00,Default,,0,0,0,,Hi",
       "dialogue time is negative; skipped"},
      // A minus sign on any part, even where the sum would be positive.
      {"Dialogue: 0,0:01:-05.00,0:02:00.00,Default,,0,0,0,,Hi",
       "dialogue time is negative; skipped"},
      {"Dialogue: 0,0:00:01.00,0:00:02.-0,Default,,0,0,0,,Hi",
       "dialogue time is negative; skipped"},
      {"Dialogue: 0,0:00:03.00,0:00:02.99,Default,,0,0,0,,Hi",
       "dialogue ends before it starts; skipped"},
      // 13:14:34.19 is 47,674,190 ms: trunc(47674190 * 90.09) > 0xFFFFFFFF.
      {"Dialogue: 0,0:00:01.00,13:14:34.19,Default,,0,0,0,,Hi",
       "dialogue ends after 13:14:34.184, the last time the stream's clock holds; skipped"},
      // Absurd numbers neither overflow nor wrap into range.
      {"Dialogue: 0,0:00:01.00,99999999999999999999999:99999999999999:9999999999.99,,,0,0,0,,Hi",
       "dialogue ends after 13:14:34.184, the last time the stream's clock holds; skipped"},
      {"Dialogue: 0,-99999999999999999999999:00:00.00,0:00:02.00,,,0,0,0,,Hi",
       "dialogue time is negative; skipped"},
  };
  for (const Bad& b : bad) {
    Result r = Read(b.line);
    EXPECT_EQ(r.kind, LineKind::kSkipped) << b.line;
    EXPECT_EQ(r.warning, b.warning) << b.line;
  }
  // The last end time that fits the clock is read.
  Result r = Read("Dialogue: 0,13:14:34.18,13:14:34.18,Default,,0,0,0,,Hi");
  ASSERT_EQ(r.kind, LineKind::kEvent);
  EXPECT_EQ(r.event.end, 47674180);
}

TEST(ScriptReaderTest, Position) {
  struct Case {
    const char* text;
    std::int32_t x, y;
  };
  const Case cases[] = {
      {"{\\pos(320,700)}Hi", 320, 700},
      {"{\\an8\\pos(10,20)}Hi", 10, 20},
      // The numbers after "\pos(", not after the block's first '('.
      {"{\\fad(200,200)\\pos(100,600)}Hi", 100, 600},
      // Fractions are truncated toward zero.
      {"{\\pos(100.7,-20.9)}Hi", 100, -20},
      {"{\\pos( -30 , +40 )}Hi", -30, 40},
      // The first "\pos" of the first block counts.
      {"{\\pos(1,2)\\pos(3,4)}Hi", 1, 2},
      {"{\\b1}Hi{\\pos(1,2)}", 960, 1080},
      {"Hi{\\pos(1,2)}", 1, 2},  // the first block need not start the text
      // Not a position: defaults stay.
      {"{\\pos(1,x)}Hi", 960, 1080},
      {"{\\pos(3000000000,1)}Hi", 960, 1080},
      {"{\\move(1,2,3,4)}Hi", 960, 1080},
  };
  for (const Case& c : cases) {
    PlayRes res{1920, 1080};
    Result r = Read(Dialogue(c.text), res);
    ASSERT_EQ(r.kind, LineKind::kEvent) << c.text;
    EXPECT_EQ(r.event.x, c.x) << c.text;
    EXPECT_EQ(r.event.y, c.y) << c.text;
  }
}

TEST(ScriptReaderTest, Colour) {
  struct Case {
    const char* text;
    std::uint32_t colour;
  };
  const Case cases[] = {
      {"{\\c&H0000FF&}Hi", 0xFFFF0000},    // blue, green, red: red
      {"{\\c&H80FF0000&}Hi", 0xFF0000FF},  // alpha byte dropped: opaque blue
      {"{\\1c&H00FF00&}Hi", 0xFF00FF00},
      {"{\\c&Hc0ffee}Hi", 0xFFEEFFC0},
      {"{\\c&H123456789&}Hi", 0xFF896745},  // of more digits the last eight count
      // Outline, shadow and secondary colours do not colour the text.
      {"{\\3c&H0000FF&}Hi", 0xFFFFFFFF},
      {"{\\3c&H0000FF&\\c&H00FF00&}Hi", 0xFF00FF00},
      // The first of several colour tags counts.
      {"{\\c&HFF0000&\\1c&H0000FF&}Hi", 0xFF0000FF},
      {"{\\1c&HFF0000&\\c&H0000FF&}Hi", 0xFF0000FF},
      // The digits follow the tag's own "&H", not the block's first 'H'.
      {"{\\fnHelvetica\\c&H0000FF&}Hi", 0xFFFF0000},
      // Not a colour: the default stays.
      {"{\\c&H&}Hi", 0xFFFFFFFF},
      {"{\\c&h0000FF&}Hi", 0xFFFFFFFF},
      {"{\\b1}Hi{\\c&H0000FF&}", 0xFFFFFFFF},  // only the first block is read
  };
  for (const Case& c : cases) {
    Result r = Read(Dialogue(c.text));
    ASSERT_EQ(r.kind, LineKind::kEvent) << c.text;
    EXPECT_EQ(r.event.colour, c.colour) << c.text;
  }
}

TEST(ScriptReaderTest, TextProper) {
  struct Case {
    const char* text;
    const char* proper;
  };
  const Case cases[] = {
      // Every "\N" is a line break (a space, then the line feed).
      {"One\\NTwo", "One \nTwo"},
      {"Ends with a break\\N", "Ends with a break \n"},
      // "\n" is a space, "\h" a no-break space; other backslashes stay.
      {"soft\\nbreak", "soft break"},
      {"no\\hbreak",
       "no\xC2\xA0"
       "break"},
      {"C:\\path\\", "C:\\path\\"},
      {"\\\\N", "\\ \n"},
      // Every override block is removed; text before the first is kept.
      {"{\\b1}Bold{\\b0} text", "Bold text"},
      {"Before{\\i1}after", "Beforeafter"},
      {"{\\k20}Ka{\\k30}ra{\\k40}o{\\k10}ke", "Karaoke"},
      {"{\\pos(1,2)}One\\N{\\c&HFF&}Two", "One \nTwo"},
      // A '{' without a '}' after it is a literal, and so is the rest.
      {"a{b", "a{b"},
      {"{\\b1}x{y\\Nz", "x{y \nz"},
      {"{a{b}c", "c"},  // a block ends at its first '}'
      // Drawings, from "\p<n>" with n > 0 up to "\p0", are removed.
      {"{\\p1}m 0 0 l 100 0 100 100 l 0 100{\\p0}After", "After"},
      {"{\\pos(10,20)\\p1}m 0 0 l 1 1", ""},
      {"Before{\\p2}m 0 0 l 1 1{\\p0} after", "Before after"},
      {"{\\p-1}Text", "Text"},
      {"{\\p1}m 0 0{\\b1}still drawing{\\p0\\b0}done", "done"},
      {"{\\p1}m 0 0 {open", ""},
      // "\pos" and "\pbo" are not the drawing tag.
      {"{\\pbo5}Text", "Text"},
      {"日本語の{\\c&H00FF00&}字幕", "日本語の字幕"},
  };
  for (const Case& c : cases) EXPECT_EQ(TextOf(c.text), c.proper) << c.text;

  // No length limit.
  const std::string long_text(10000, 'a');
  EXPECT_EQ(TextOf("{\\b1}" + long_text + "\\N" + long_text), long_text + " \n" + long_text);

  // Drawing text does not take the colour or position of later blocks.
  Result r = Read(Dialogue("{\\p1}m 0 0{\\p0\\c&H0000FF&\\pos(1,2)}x"));
  EXPECT_EQ(r.event.colour, 0xFFFFFFFFu);
  EXPECT_EQ(r.event.x, 720);
}

TEST(ScriptReaderTest, NulByteEndsTheLine) {
  using namespace std::string_literals;
  Result r = Read(Dialogue("Hel\0lo, world"s));
  ASSERT_EQ(r.kind, LineKind::kEvent);
  EXPECT_EQ(r.event.text, "Hel");
  EXPECT_EQ(r.warning, "NUL byte at column 54 ends the line");

  // Cut before the text: skipped, both reasons given.
  r = Read("Dialogue: 0,0:00:01.00,0:00:02.00,Default\0,,0,0,0,,Hi"s);
  EXPECT_EQ(r.kind, LineKind::kSkipped);
  EXPECT_EQ(r.warning,
            "NUL byte at column 42 ends the line; "
            "dialogue line has fewer than nine commas; skipped");

  PlayRes res;
  r = Read(
      "PlayResX: 64\0"
      "0"s,
      res);
  EXPECT_EQ(r.kind, LineKind::kPlayRes);
  EXPECT_EQ(res.x, 64);
  EXPECT_EQ(r.warning, "NUL byte at column 13 ends the line");

  // Lines the program does not use are not looked at.
  r = Read("Comment: 0,0:00:01.00\0"s);
  EXPECT_EQ(r.kind, LineKind::kIgnored);
  EXPECT_EQ(r.warning, "");
  r = Read("Dialog\0e: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Hi"s);
  EXPECT_EQ(r.kind, LineKind::kIgnored);
}

// Real scripts from elsewhere, read line by line: how many events each gives
// and what is skipped.
TEST(ScriptReaderCorpusTest, RealScripts) {
  const std::filesystem::path corpus =
      std::filesystem::path(KELPIE_SOURCE_DIR) / ".." / "shared" / "corpus";
  if (!std::filesystem::exists(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  struct Expected {
    const char* name;
    int events;
    int warnings;
    PlayRes res;
  };
  const Expected expected[] = {
      {"tag-showcase.ass", 40, 0, {640, 480}},
      {"film-english-no-playres.ass", 1164, 0, {1440, 1080}},
      {"film-portuguese-embedded-font.ass", 1046, 0, {720, 480}},
      {"song-karaoke-romaji.ass", 40, 0, {704, 480}},
      {"song-drawings-zero-duration.ass", 4152, 0, {704, 448}},
      {"episode-ssa4-latin1.ass", 125, 0, {1440, 1080}},
      {"attached-fonts-playres-zero.ass", 1, 2, {1440, 1080}},
      {"attached-images.ass", 1, 0, {1440, 1080}},
  };
  for (const Expected& e : expected) {
    ScriptFile file;
    ASSERT_TRUE(file.Open((corpus / e.name).string())) << e.name;
    PlayRes res;
    SubtitleEvent event;
    std::string line, warning;
    int events = 0, warnings = 0;
    while (file.NextLine(&line)) {
      if (ReadScriptLine(line, res, event, warning) == LineKind::kEvent) ++events;
      if (!warning.empty()) ++warnings;
    }
    EXPECT_EQ(events, e.events) << e.name;
    EXPECT_EQ(warnings, e.warnings) << e.name;
    EXPECT_EQ(res.x, e.res.x) << e.name;
    EXPECT_EQ(res.y, e.res.y) << e.name;
  }
}

}  // namespace
}  // namespace kelpie
