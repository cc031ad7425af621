// The run as the built program shows it, and the output path it derives.
#include "driver/run_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/event_grouper.h"
#include "tests/file_helpers.h"

namespace kelpie {
namespace {

using testing::Streams;

class KelpieProgramTest : public testing::ProgramTest {};

TEST_F(KelpieProgramTest, ProgressLinesInPictureOrder) {
  // Equal times group (a comment and a style line between them do not split
  // them); the last line's times came before, but after other times it is a
  // group of its own. Both streams go into one pipe, as with 2>&1 | tee:
  // each picture's colour line (standard output) stays between its header
  // and its closing line (standard error).
  testing::WriteFile(dir_ / "groups.ass",
                     "\xEF\xBB\xBF[Events]\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,first\r\n"
                     "Comment: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,a comment\r\n"
                     "Style: Default,Arial,20,&H00FFFFFF\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,second\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,other end\r\n"
                     "Dialogue: 0,1:00:01.00,1:00:02.50,Default,,0,0,0,,later\r\n"
                     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,first again");
  const testing::Outcome run = Kelpie({Path("groups.ass")}, {.streams = Streams::kOnePipe});
  EXPECT_EQ(run.status, 0);
  std::string kinds;  // one letter per line
  std::string times;  // of the headers
  for (std::size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = run.out.substr(at, end - at);
    kinds += line.starts_with("<subtitle starttime=\"") ? 'S'
             : line.starts_with("\tImage[")             ? 'I'
             : line.starts_with("\toffset=\"")          ? 'O'
             : line == "finished"                       ? 'F'
                                                        : '?';
    if (kinds.back() == 'S') times += line.substr(21, 11) + "-" + line.substr(43, 11) + " ";
  }
  EXPECT_EQ(kinds, "SIOSIOSIOSIOF") << run.out;
  EXPECT_EQ(times,
            "0:00:01.000-0:00:02.000 0:00:01.000-0:00:03.000 1:00:01.000-1:00:02.500 "
            "0:00:01.000-0:00:02.000 ");
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

SubtitleEvent Event(std::int32_t start, std::int32_t end, const char* text) {
  SubtitleEvent e;
  e.start = start;
  e.end = end;
  e.text = text;
  return e;
}

std::string Texts(const std::vector<SubtitleEvent>& group) {
  std::string s;
  for (const SubtitleEvent& e : group) s += e.text;
  return s;
}

TEST(EventGrouperTest, ConsecutiveEventsWithEqualTimes) {
  EventGrouper grouper;
  std::vector<SubtitleEvent> done;
  EXPECT_FALSE(grouper.Finish(&done));  // nothing yet

  EXPECT_FALSE(grouper.Add(Event(1000, 2000, "a"), &done));
  EXPECT_FALSE(grouper.Add(Event(1000, 2000, "b"), &done));
  // Same start, other end: a new group.
  ASSERT_TRUE(grouper.Add(Event(1000, 3000, "c"), &done));
  EXPECT_EQ(Texts(done), "ab");
  // Same end, other start.
  ASSERT_TRUE(grouper.Add(Event(1500, 3000, "d"), &done));
  EXPECT_EQ(Texts(done), "c");
  ASSERT_TRUE(grouper.Add(Event(5000, 6000, "e"), &done));
  EXPECT_EQ(Texts(done), "d");
  // Equal times after an event with other times start a group of their own.
  ASSERT_TRUE(grouper.Add(Event(1000, 2000, "f"), &done));
  EXPECT_EQ(Texts(done), "e");
  EXPECT_FALSE(grouper.Add(Event(1000, 2000, "g"), &done));
  ASSERT_TRUE(grouper.Finish(&done));
  EXPECT_EQ(Texts(done), "fg");
  EXPECT_FALSE(grouper.Finish(&done));  // the last group goes out once

  // Zero-duration events group like any other.
  EXPECT_FALSE(grouper.Add(Event(0, 0, "z"), &done));
  EXPECT_FALSE(grouper.Add(Event(0, 0, "y"), &done));
  ASSERT_TRUE(grouper.Finish(&done));
  EXPECT_EQ(Texts(done), "zy");
}

TEST(EventGrouperTest, GroupSizeIsNotLimited) {
  EventGrouper grouper;
  std::vector<SubtitleEvent> done;
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(grouper.Add(Event(10, 20, "x"), &done));
  ASSERT_TRUE(grouper.Add(Event(20, 30, "y"), &done));
  EXPECT_EQ(done.size(), 1000u);
  ASSERT_TRUE(grouper.Finish(&done));
  EXPECT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].text, "y");
}

}  // namespace
}  // namespace kelpie
