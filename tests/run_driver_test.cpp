// The run as the built program shows it, and the output path it derives.
#include "driver/run_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/file_helpers.h"

namespace kelpie {
namespace {

using KelpieProgramTest = testing::ProgramTest;
using namespace std::string_literals;

TEST_F(KelpieProgramTest, ProgressLinesInPictureOrder) {
  // Out of time order, with lines that overlap: one picture per stretch of
  // time with the lines visible then, written in time order (comments and
  // styles between dialogue lines change nothing). Both streams go into one
  // pipe, as with 2>&1 | tee: each picture's colour line (standard output)
  // stays between its header and its closing line (standard error).
  testing::WriteFile(dir_ / "groups.ass",
                     "\xEF\xBB\xBF[Events]\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,first\r\n"
                     "Comment: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,a comment\r\n"
                     "Style: Default,Arial,20,&H00FFFFFF\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,second\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,other end\r\n"
                     "Dialogue: 0,1:00:01.00,1:00:02.50,Default,,0,0,0,,later\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,first again\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\pos(100,100)}a sign");
  const testing::Outcome run = Kelpie({Path("groups.ass")}, {.prepare = [] { dup2(1, 2); }});
  // Each line's first character, past a tab: '<' for a picture's header (whose
  // times are kept), 'I' for its colour line, 'o' for its closing line, 'f'
  // for "finished".
  std::string kinds, times;
  for (std::size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = run.out.substr(at, end - at);
    kinds += line[line[0] == '\t'];
    if (line.starts_with("<subtitle starttime=\""))
      times += line.substr(21, 11) + "-" + line.substr(43, 11) + " ";
  }
  EXPECT_EQ(std::pair(run.status, kinds), std::pair(0, "<Io<Io<Iof"s)) << run.out;
  EXPECT_EQ(times, "0:00:01.000-0:00:02.000 0:00:02.000-0:00:03.000 1:00:01.000-1:00:02.500 ");
  // The first picture holds the sign at its place (a 158 x 56 box centred on
  // x = 100 with its bottom at y = 100) above the four stacked lines.
  EXPECT_NE(run.out.find("\toffset=\"21,44\" />"), std::string::npos) << run.out;
}

TEST(OutputPathTest, BesideTheScript) {
  struct Case {
    const char* script;
    const char* sup;  // nullptr: refused
  };
  const Case cases[] = {
      {"a.ass", "a.sup"},
      {"/abs/dir.v2/a.ass", "/abs/dir.v2/a.sup"},  // only the file name's '.' counts
      {"dir/.ass", "dir/.sup"},
      {"a.ASS", nullptr},      // case matters
      {"a.ass.txt", nullptr},  // only the last extension
      {"dir.ass/a", nullptr},
      {"dir.ass/", nullptr},
  };
  for (const Case& c : cases) {
    std::string sup = "unchanged";
    EXPECT_EQ(OutputPathFor(c.script, sup), c.sup != nullptr) << c.script;
    EXPECT_EQ(sup, c.sup != nullptr ? c.sup : "unchanged") << c.script;
  }
}

}  // namespace
}  // namespace kelpie
