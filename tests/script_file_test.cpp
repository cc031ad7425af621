#include "platform/script_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kelpie {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using namespace std::string_literals;

std::string Utf16(const std::u16string& text, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char hi = static_cast<char>(unit >> 8);
    const char lo = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return bytes;
}

// Deterministic bytes that no detector takes for text.
std::string Garbage(std::size_t size) {
  std::string bytes;
  std::uint32_t x = 12345;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(x >> 16 & 0xFF));
  }
  return bytes;
}

std::string Replaced(std::string_view bytes) {
  std::string out = "<";
  AppendValidUtf8(bytes, &out);
  return out;
}

class ScriptFileEncodingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelpie_script_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "script.ass").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Reads `bytes` as a script; the warnings go to warnings_ as
  // "<line>: <message>", those of Open first.
  Lines Read(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary) << bytes;
    warnings_.clear();
    file_ = std::make_unique<ScriptFile>();
    EXPECT_TRUE(file_->Open(path_)) << file_->open_error();
    Take();
    Lines lines;
    std::string line;
    while (file_->NextLine(&line)) {
      lines.push_back(line);
      EXPECT_EQ(file_->line_number(), static_cast<long>(lines.size()));
      Take();
    }
    EXPECT_EQ(file_->read_error(), 0);
    return lines;
  }

  void Take() {
    for (const ScriptWarning& w : file_->TakeWarnings()) {
      warnings_.push_back(std::to_string(w.line) + ": " + w.message);
    }
  }

  fs::path dir_;
  std::string path_;
  std::unique_ptr<ScriptFile> file_;
  Lines warnings_;
};

TEST(AppendValidUtf8Test, MaximalSubpartsBecomeOneReplacementEach) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string bytes;
    std::string expected;  // after "<"
  };
  const Case cases[] = {
      {"plain ascii\t\r", "plain ascii\t\r"},
      {"\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"},
      {"\x00z"s, "\x00z"s},
      {"a\xF0\x9F\x98"
       "b",
       "a" + r + "b"},                           // a 4-byte sequence cut short: one
      {"a\xF0\x9F\x98", "a" + r},                // ... also at the end
      {"\xC0\xAF", r + r},                       // overlong lead, lone continuation
      {"\xE0\x80\xAF", r + r + r},               // E0 needs A0..BF next
      {"\xED\xA0\x80", r + r + r},               // a surrogate
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},          // U+D7FF, just below
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF
      {"\xF4\x90\x80\x80", r + r + r + r},       // above U+10FFFF
      {"\xF5\xFF\xFE", r + r + r},
      {"\xE6\x97"
       "x\xE6",
       r + "x" + r},
      {"\x80\x80\x80", r + r + r},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Replaced(c.bytes), "<" + c.expected) << testing::PrintToString(c.bytes);
    std::string out;
    EXPECT_EQ(AppendValidUtf8(c.bytes, &out), c.bytes != c.expected);
  }
}

TEST_F(ScriptFileEncodingTest, Utf16WithByteOrderMark) {
  // Both byte orders give the lines of the UTF-8 text: CR LF and LF end
  // lines, a surrogate pair becomes one 4-byte character, a NUL is passed on.
  const std::u16string text =
      u"[Events]\r\nDialogue: 0,0:00:01.00,0:00:02.00,,,0,0,0,,\u6D99\u3067 \U0001F600\r\n"
      u"caf\u00E9\nlast";
  const Lines expected = {"[Events]",
                          "Dialogue: 0,0:00:01.00,0:00:02.00,,,0,0,0,,\xE6\xB6\x99\xE3\x81\xA7 "
                          "\xF0\x9F\x98\x80",
                          "caf\xC3\xA9", "last"};
  EXPECT_EQ(Read(Utf16(text, false)), expected);
  EXPECT_EQ(file_->encoding(), ScriptFile::Encoding::kUtf16Le);
  EXPECT_EQ(warnings_, Lines{});
  EXPECT_EQ(Read(Utf16(text, true)), expected);
  EXPECT_EQ(file_->encoding(), ScriptFile::Encoding::kUtf16Be);
  EXPECT_EQ(warnings_, Lines{});
  EXPECT_EQ(Read(Utf16(u"a\0b\n"s, false)), (Lines{"a\0b"s}));
  EXPECT_EQ(Read(Utf16(u"", false)), Lines{});

  // Lone surrogates and an odd last byte become U+FFFD; one warning, at the
  // first line that has them.
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(Read(Utf16(u"ok\n\xD800x\n\xDC00\n\xD83D", false) + "\x41"),
            (Lines{"ok", r + "x", r, r + r}));
  EXPECT_EQ(warnings_, Lines{"2: invalid UTF-16LE bytes are drawn as U+FFFD"});
}

TEST_F(ScriptFileEncodingTest, ValidUtf8IsReadAsItStands) {
  // A character across the 64 KiB boundary of the first check is still one
  // character, wherever it is cut.
  for (std::size_t before = 65532; before <= 65536; ++before) {
    const std::string line = std::string(before, 'a') + "\xF0\x9F\x98\x80\xC3\xA9";
    EXPECT_EQ(Read("x\n" + line.substr(2) + "\n"), (Lines{"x", line.substr(2)})) << before;
    EXPECT_EQ(file_->encoding(), ScriptFile::Encoding::kUtf8);
    EXPECT_EQ(warnings_, Lines{});
  }
  // Only a byte-order mark at the very start is dropped.
  EXPECT_EQ(Read("\xEF\xBB\xBFone\r\n\xEF\xBB\xBFtwo"), (Lines{"one", "\xEF\xBB\xBFtwo"}));
  EXPECT_EQ(file_->encoding_name(), "UTF-8");
}

TEST_F(ScriptFileEncodingTest, OtherEncodingsAreDetectedAndConverted) {
  // ISO-8859-1: é is 0xE9, à 0xE0 ...
  const std::string latin1 =
      "[Events]\n"
      "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,\xC7"
      "a va tr\xE8s bien, merci.\n"
      "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,O\xF9 est la biblioth\xE8que? "
      "\xC0 gauche, apr\xE8s le caf\xE9.\n"
      "Dialogue: 0,0:00:02.00,0:00:03.00,Default,,0,0,0,,Il \xE9tait une fois un gar\xE7on "
      "tr\xE8s \xE2g\xE9.\n";
  const Lines lines = Read(latin1);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1],
            "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,\xC3\x87"
            "a va tr\xC3\xA8s bien, merci.");
  EXPECT_EQ(file_->encoding(), ScriptFile::Encoding::kConverted);
  EXPECT_EQ(file_->encoding_name(), "ISO-8859-1");
  EXPECT_EQ(warnings_, Lines{"0: not UTF-8; reading it as ISO-8859-1"});

  // Windows-1251 Russian.
  const std::string cp1251 =
      "[Events]\n"
      "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,\xCF\xF0\xE8\xE2\xE5\xF2, \xEA\xE0\xEA "
      "\xE4\xE5\xEB\xE0? \xC2\xF1\xB8 \xF5\xEE\xF0\xEE\xF8\xEE.\n"
      "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,\xDD\xF2\xEE \xEE\xF7\xE5\xED\xFC "
      "\xE8\xED\xF2\xE5\xF0\xE5\xF1\xED\xE0\xFF \xE8\xF1\xF2\xEE\xF0\xE8\xFF.\n";
  EXPECT_EQ(Read(cp1251)[1],
            "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,"
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBA\xD0\xB0\xD0\xBA "
            "\xD0\xB4\xD0\xB5\xD0\xBB\xD0\xB0? \xD0\x92\xD1\x81\xD1\x91 "
            "\xD1\x85\xD0\xBE\xD1\x80\xD0\xBE\xD1\x88\xD0\xBE.");
  EXPECT_EQ(warnings_, Lines{"0: not UTF-8; reading it as WINDOWS-1251"});

  // Shift_JIS from Windows: 0x5C stays the backslash of "\N", not a yen sign.
  // 今日は天気がいいですね。 / 私はあなたのことが好きです。\Nこれは字幕のテストです。
  const std::string sjis =
      "[Events]\n"
      "Dialogue: 0,0:00:00.00,0:00:01.00,,,0,0,0,,\x8D\xA1\x93\xFA\x82\xCD\x93\x56\x8B\x43\x82\xAA"
      "\x82\xA2\x82\xA2\x82\xC5\x82\xB7\x82\xCB\x81\x42\n"
      "Dialogue: 0,0:00:01.00,0:00:02.00,,,0,0,0,,\x8E\x84\x82\xCD\x82\xA0\x82\xC8\x82\xBD\x82\xCC"
      "\x82\xB1\x82\xC6\x82\xAA\x8D\x44\x82\xAB\x82\xC5\x82\xB7\x81\x42\\N\x82\xB1\x82\xEA\x82\xCD"
      "\x8E\x9A\x96\x8B\x82\xCC\x83\x65\x83\x58\x83\x67\x82\xC5\x82\xB7\x81\x42\n";
  const Lines ja = Read(sjis);
  ASSERT_EQ(ja.size(), 3u);
  EXPECT_EQ(ja[1],
            "Dialogue: 0,0:00:00.00,0:00:01.00,,,0,0,0,,"
            "\xE4\xBB\x8A\xE6\x97\xA5\xE3\x81\xAF\xE5\xA4\xA9\xE6\xB0\x97\xE3\x81\x8C\xE3\x81\x84"
            "\xE3\x81\x84\xE3\x81\xA7\xE3\x81\x99\xE3\x81\xAD\xE3\x80\x82");
  EXPECT_NE(ja[2].find("\xE3\x80\x82\\N\xE3\x81\x93"), std::string::npos) << ja[2];
  EXPECT_EQ(warnings_, Lines{"0: not UTF-8; reading it as SHIFT_JIS"});
}

TEST_F(ScriptFileEncodingTest, UnknownEncodingBecomesReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  // The warning names the first line with bytes that are not UTF-8, also
  // when it lies past the first 64 KiB.
  const std::string filler = std::string(70000, 'x') + "\n";
  const Lines lines = Read("[Events]\n" + filler + "ok \xC3\xA9\n" + Garbage(3000) + "\nend\xE9");
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(file_->encoding(), ScriptFile::Encoding::kUtf8Replace);
  EXPECT_EQ(lines[2], "ok \xC3\xA9");
  EXPECT_EQ(lines.back(), "end" + r);
  for (const std::string& line : lines) {
    std::string again;
    EXPECT_FALSE(AppendValidUtf8(line, &again));  // every line is valid UTF-8 now
  }
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_EQ(warnings_[0],
            "4: not UTF-8, and its encoding is not recognised; invalid bytes are drawn as "
            "U+FFFD");
}

TEST_F(ScriptFileEncodingTest, OpenFailuresSayWhy) {
  ScriptFile missing;
  EXPECT_FALSE(missing.Open((dir_ / "missing.ass").string()));
  EXPECT_EQ(missing.open_error(), "No such file or directory");
  ScriptFile folder;
  EXPECT_FALSE(folder.Open(dir_.string()));
  EXPECT_EQ(folder.open_error(), "Is a directory");
  // Neither a device that never ends nor a FIFO without a writer (which
  // would block) is read.
  ScriptFile device;
  EXPECT_FALSE(device.Open("/dev/zero"));
  EXPECT_EQ(device.open_error(), "not a regular file");
  const fs::path fifo = dir_ / "fifo.ass";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ScriptFile pipe;
  EXPECT_FALSE(pipe.Open(fifo.string()));
  EXPECT_EQ(pipe.open_error(), "not a regular file");
  // NextLine on a file that did not open gives nothing.
  std::string line;
  EXPECT_FALSE(pipe.NextLine(&line));
}

}  // namespace
}  // namespace kelpie
