#include "platform/script_file.h"

#include <gtest/gtest.h>
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
using Encoding = ScriptFile::Encoding;
using namespace std::string_literals;

const std::string r = "\xEF\xBF\xBD";  // U+FFFD

// Code units of `n` bytes each (2 or 4), in either byte order, without a mark.
std::string Units(const std::vector<std::uint32_t>& units, int n, bool bigEndian) {
  std::string out;
  for (const std::uint32_t unit : units)
    for (int i = 0; i < n; ++i) out += static_cast<char>(unit >> 8 * (bigEndian ? n - 1 - i : i));
  return out;
}

class ScriptFileEncodingTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove(path_); }

  // Reads `bytes` as a script; the warnings go to warnings_ as
  // "<line>: <message>".
  Lines Read(const std::string& bytes) {
    std::ofstream(path_, std::ios::binary) << bytes;
    warnings_.clear();
    file_ = std::make_unique<ScriptFile>();
    EXPECT_TRUE(file_->Open(path_.string())) << file_->openError();
    Lines lines;
    for (std::string line; file_->NextLine(line);) lines.push_back(line);
    for (const ScriptWarning& w : file_->TakeWarnings())
      warnings_.push_back(std::to_string(w.line) + ": " + w.message);
    EXPECT_EQ(file_->lineNumber(), static_cast<long>(lines.size()));
    return lines;
  }

  fs::path path_ = fs::temp_directory_path() / ("kelpie_" + std::to_string(getpid()) + ".ass");
  std::unique_ptr<ScriptFile> file_;
  Lines warnings_;
};

TEST(AppendValidUtf8Test, MaximalSubpartsBecomeOneReplacementEach) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x00z\t\r"s, "\x00z\t\r"s},
      {"a\xF0\x9F\x98"s + "b", "a" + r + "b"},   // a 4-byte sequence cut short: one
      {"a\xF0\x9F\x98", "a" + r},                // ... also at the end
      {"\xC0\xAF", r + r},                       // overlong lead, lone continuation
      {"\xE0\x80\xAF", r + r + r},               // E0 needs A0..BF next
      {"\xED\xA0\x80", r + r + r},               // a surrogate
      {"\xED\x9F\xBF", "\xED\x9F\xBF"},          // U+D7FF, just below
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},  // U+10FFFF
      {"\xF4\x90\x80\x80", r + r + r + r},       // above U+10FFFF
  };
  for (const auto& [bytes, expected] : cases) {
    std::string out = "<";  // appended to
    EXPECT_EQ(AppendValidUtf8(bytes, out), bytes != expected);
    EXPECT_EQ(out, "<" + expected) << testing::PrintToString(bytes);
  }
}

TEST_F(ScriptFileEncodingTest, WideEncodingsDecodeUnitByUnit) {
  // A surrogate pair is one 4-byte character; a NUL is passed on.
  const std::vector<std::uint32_t> good = {0xFEFF, 'a', 0xD83D, 0xDE00, 0, 'b', '\r', '\n', 'c'};
  EXPECT_EQ(Read(Units(good, 2, true)), (Lines{"a\xF0\x9F\x98\x80\0b"s, "c"}));
  EXPECT_EQ(std::pair(file_->encoding(), warnings_), std::pair(Encoding::kUtf16Be, Lines{}));
  // Lone surrogates, units past U+10FFFF and bytes that make no whole unit
  // at the end become U+FFFD; one warning, at the first line that has them.
  EXPECT_EQ(
      Read(Units({0xFEFF, 'o', 'k', '\n', 0xD800, 'x', '\n', 0xDC00, '\n', 0xD83D}, 2, false) +
           "A"),
      (Lines{"ok", r + "x", r, r + r}));
  EXPECT_EQ(warnings_, Lines{"2: invalid UTF-16LE bytes are drawn as U+FFFD"});
  EXPECT_EQ(Read(Units({0xFEFF, 'a', 0xD800, 0x110000, '\r', 'b'}, 4, false) + "\0\0"s),
            (Lines{"a" + r + r, "b" + r}));  // no line feed: CR ends the line
  EXPECT_EQ(std::pair(file_->encoding(), warnings_),
            std::pair(Encoding::kUtf32Le, Lines{"1: invalid UTF-32LE bytes are drawn as U+FFFD"}));
}

TEST_F(ScriptFileEncodingTest, UnmarkedEncodingsAreDetected) {
  // Shift_JIS from Windows: 0x5C stays the backslash of "\N", not a yen sign.
  // 私はあなたのことが好きです。\Nこれは字幕のテストです。
  const Lines ja = Read(
      "[Events]\n"
      "Dialogue: 0,0:00:01.00,0:00:02.00,,,0,0,0,,\x8E\x84\x82\xCD\x82\xA0\x82\xC8\x82\xBD\x82\xCC"
      "\x82\xB1\x82\xC6\x82\xAA\x8D\x44\x82\xAB\x82\xC5\x82\xB7\x81\x42\\N\x82\xB1\x82\xEA\x82\xCD"
      "\x8E\x9A\x96\x8B\x82\xCC\x83\x65\x83\x58\x83\x67\x82\xC5\x82\xB7\x81\x42\n");
  EXPECT_NE(ja.at(1).find("\xE3\x80\x82\\N\xE3\x81\x93"), std::string::npos) << ja[1];
  EXPECT_EQ(warnings_, Lines{"0: not UTF-8; reading it as SHIFT_JIS"});

  // A character across the 64 KiB boundary of the first check is still one
  // character, wherever it is cut.
  for (std::size_t before = 65532; before <= 65536; ++before) {
    const std::string line = std::string(before, 'a') + "\xF0\x9F\x98\x80\xC3\xA9";
    EXPECT_EQ(Read("x\n" + line.substr(2) + "\n"), (Lines{"x", line.substr(2)})) << before;
    EXPECT_EQ(std::pair(file_->encoding(), warnings_), std::pair(Encoding::kUtf8, Lines{}));
  }
  // Bytes that are not UTF-8 in no recognised encoding become U+FFFD. The
  // warning names the first line that has them, also when it lies past the
  // first 64 KiB, and in a file that ends its lines with carriage returns only.
  std::string garbage;  // bytes no detector takes for text, without line ends
  for (int i = 0; i < 3000; ++i) garbage += static_cast<char>(i * 7919 % 241 + 14);
  for (const char* end : {"\n", "\r"}) {
    const Lines lines = Read("[Events]" + (end + std::string(70000, 'x')) + end + "ok \xC3\xA9" +
                             end + garbage + end + "end\xE9");
    EXPECT_EQ(std::tuple(lines.size(), file_->encoding(), lines.at(2), lines.at(4)),
              std::tuple(5u, Encoding::kUtf8Replace, "ok \xC3\xA9", "end" + r));
    // Every line is valid UTF-8 now.
    for (std::string out; const std::string& line : lines) EXPECT_FALSE(AppendValidUtf8(line, out));
    EXPECT_EQ(warnings_, Lines{"4: not UTF-8, and its encoding is not recognised; invalid bytes "
                               "are drawn as U+FFFD"});
  }
}

}  // namespace
}  // namespace kelpie
