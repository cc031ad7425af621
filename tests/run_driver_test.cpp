#include "driver/run_driver.h"
#include "tests/file_helpers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kelpie {
namespace {

namespace fs = std::filesystem;

const char kKelpie[] = KELPIE_BINARY_DIR "/driver/kelpie";
const char kUsage[] = "usage: kelpie.exe *.ass\n";

using testing::CountOf;
using testing::ReadFile;
using testing::WriteFile;

using testing::Outcome;

// Each test gets a fresh folder and runs the built program in it with its
// standard input from /dev/null, so a start-up error never waits for a key.
class KelpieProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelpie_driver_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome Kelpie(const std::vector<std::string>& args) {
    Outcome run = testing::RunProgram(kKelpie, args, dir_);
    EXPECT_NE(run.status, -1) << "kelpie did not exit normally";
    return run;
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(KelpieProgramTest, StartupFailures) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  WriteFile(dir_ / "upper.ASS", "");
  WriteFile(dir_ / "notes.txt", "");
  WriteFile(dir_ / "noext", "");
  WriteFile(dir_ / "script.ass.bak", "");
  fs::create_directory(dir_ / "folder.ass");
  WriteFile(dir_ / "folder.ass" / "inner", "");
  const Case cases[] = {
      {{}, kUsage},
      {{Path("a.ass"), Path("b.ass")}, kUsage},
      {{Path("upper.ASS")}, kUsage},              // the extension is case-sensitive
      {{Path("notes.txt")}, kUsage},              //
      {{Path("noext")}, kUsage},                  //
      {{Path("script.ass.bak")}, kUsage},         // only the last '.' counts
      {{Path("folder.ass") + "/inner"}, kUsage},  // a '.' of the folder does not
      {{Path("folder.ass") + "/"}, kUsage},       // no file name at all
      // The first line as it always was; the second names the file and why.
      {{Path("missing.ass")},  // creates missing.sup first
       "can't open *.ass\n" + Path("missing.ass") + ": No such file or directory\n"},
      {{Path("folder.ass")},  // a folder is not a script
       "can't open *.ass\n" + Path("folder.ass") + ": Is a directory\n"},
  };
  for (const Case& c : cases) {
    const Outcome run = Kelpie(c.args);
    const std::string what = c.args.empty() ? "(no argument)" : c.args[0];
    EXPECT_EQ(run.status, 1) << what;
    EXPECT_EQ(run.err, c.message) << what;
    EXPECT_EQ(run.out, "") << what;
  }
  // Refused paths create nothing; a script that cannot be opened leaves its
  // ".sup" behind, empty.
  EXPECT_FALSE(fs::exists(dir_ / "upper.sup"));
  EXPECT_FALSE(fs::exists(dir_ / "notes.sup"));
  EXPECT_FALSE(fs::exists(dir_ / "script.sup"));
  EXPECT_FALSE(fs::exists(dir_ / "script.ass.sup"));
  ASSERT_TRUE(fs::is_regular_file(dir_ / "missing.sup"));
  EXPECT_EQ(fs::file_size(dir_ / "missing.sup"), 0u);
  ASSERT_TRUE(fs::is_regular_file(dir_ / "folder.sup"));
  EXPECT_EQ(fs::file_size(dir_ / "folder.sup"), 0u);

  // The output cannot be created (its name is taken by a folder); the script
  // is not needed to find that out.
  fs::create_directory(dir_ / "taken.sup");
  const Outcome run = Kelpie({Path("taken.ass")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "can't open *.sup\n" + Path("taken.sup") + ": Is a directory\n");
}

TEST_F(KelpieProgramTest, ScriptWithoutDialogueWritesAnEmptyStream) {
  WriteFile(dir_ / "empty.ass", "[Script Info]\r\nPlayResX: 1920\r\n\r\n[Events]\r\n");
  Outcome run = Kelpie({Path("empty.ass")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "finished\n");
  ASSERT_TRUE(fs::is_regular_file(dir_ / "empty.sup"));
  EXPECT_EQ(fs::file_size(dir_ / "empty.sup"), 0u);

  // A zero-byte script too; a stale ".sup" beside it is replaced.
  WriteFile(dir_ / "nothing.ass", "");
  WriteFile(dir_ / "nothing.sup", "old bytes");
  run = Kelpie({Path("nothing.ass")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "finished\n");
  EXPECT_EQ(fs::file_size(dir_ / "nothing.sup"), 0u);
}

TEST_F(KelpieProgramTest, PicturesFollowTheTimeline) {
  // Out of time order, with lines that overlap: one picture per stretch of
  // time with the lines visible then, written in time order.
  WriteFile(dir_ / "times.ass",
            "\xEF\xBB\xBF[Events]\r\n"
            "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,first\r\n"
            "Comment: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,a comment\r\n"
            "Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,longer\r\n"
            "Dialogue: 0,1:00:01.00,1:00:02.50,Default,,0,0,0,,later\r\n"
            "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\pos(100,100)}a sign\r\n");
  const Outcome run = Kelpie({Path("times.ass")});
  EXPECT_EQ(run.status, 0);
  const std::size_t a =
      run.err.find("<subtitle starttime=\"0:00:01.000\" endtime=\"0:00:02.000\" \n");
  const std::size_t b =
      run.err.find("<subtitle starttime=\"0:00:02.000\" endtime=\"0:00:03.000\" \n");
  const std::size_t c =
      run.err.find("<subtitle starttime=\"1:00:01.000\" endtime=\"1:00:02.500\" \n");
  EXPECT_TRUE(a < b && b < c && c != std::string::npos) << run.err;
  EXPECT_EQ(CountOf(run.err, "<subtitle starttime="), 3);
  // The first picture spans the sign and the two lines stacked at the bottom.
  EXPECT_NE(run.out.find("\tImage[0000] has "), std::string::npos);
  EXPECT_NE(run.err.find("\toffset=\"21,44\" />"), std::string::npos) << run.err;
  EXPECT_TRUE(run.err.ends_with("\" />\nfinished\n")) << run.err;
}

TEST_F(KelpieProgramTest, ReaderWarningsNameFileAndLineAndTheRunGoesOn) {
  const std::string script = Path("warn.ass");
  WriteFile(script,
            "[Script Info]\n"
            "PlayResX: 0\n"
            "[Events]\n"
            "Dialogue: 0,0:00:01.00,0:00:02.00,Default\n"
            "Dialogue: 0,0:00:03.00,0:00:02.00,Default,,0,0,0,,backwards\n"
            "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,fine\n");
  const Outcome run = Kelpie({script});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.find(script + ":2: PlayResX 0 is outside 1 to 8192; 1440 stays\n"), 0u)
      << run.err;
  EXPECT_NE(run.err.find(script + ":4: dialogue line has fewer than nine commas; skipped\n"),
            std::string::npos);
  EXPECT_NE(run.err.find(script + ":5: dialogue ends before it starts; skipped\n"),
            std::string::npos);
  EXPECT_EQ(CountOf(run.err, "<subtitle starttime="), 1);
  EXPECT_TRUE(run.err.ends_with("finished\n"));
}

TEST_F(KelpieProgramTest, SampleScriptConverts) {
  fs::copy_file(fs::path(KELPIE_SOURCE_DIR) / "examples" / "sample.ass", dir_ / "sample.ass");
  const Outcome run = Kelpie({Path("sample.ass")});
  EXPECT_EQ(run.status, 0);
  // Seven dialogue lines, the last two sharing their times: six pictures.
  EXPECT_EQ(CountOf(run.err, "<subtitle starttime="), 6);
  EXPECT_EQ(CountOf(run.err, "\toffset=\""), 6);
  EXPECT_NE(run.err.find("<subtitle starttime=\"0:00:14.500\" endtime=\"0:00:17.000\" \n"),
            std::string::npos);
  EXPECT_TRUE(run.err.ends_with("finished\n"));
  EXPECT_TRUE(fs::is_regular_file(dir_ / "sample.sup"));
}

TEST_F(KelpieProgramTest, WriteFailureEndsTheRunAndRemovesTheOutput) {
  // The ".sup" is a link to a device that is always full: every write fails.
  std::string script;
  for (int i = 0; i < 100; ++i) {
    script += "Dialogue: 0,0:00:" + std::to_string(10 + i / 2 % 50) + "." +
              std::to_string(10 + i % 2 * 50) + ",0:01:00.00,Default,,0,0,0,,Line of text " +
              std::to_string(i) + "\n";
  }
  WriteFile(dir_ / "full.ass", script);
  const fs::path link = dir_ / "full.sup";
  fs::create_symlink("/dev/full", link);
  const Outcome run = Kelpie({Path("full.ass")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.ends_with("can't write " + link.string() + ": No space left on device\n"))
      << run.err;
  EXPECT_EQ(run.err.find("finished"), std::string::npos);
  // Reading stopped soon after the first failed write.
  EXPECT_LT(CountOf(run.err, "<subtitle starttime="), 100);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(OutputPathTest, BesideTheScript) {
  struct Case {
    const char* script;
    const char* sup;  // nullptr: refused
  };
  const Case cases[] = {
      {"a.ass", "a.sup"},
      {"dir/a.ass", "dir/a.sup"},
      {"/abs/dir.v2/a.ass", "/abs/dir.v2/a.sup"},
      {"film.part1.ass", "film.part1.sup"},
      {".ass", ".sup"},
      {"dir/.ass", "dir/.sup"},
      {"a.ASS", nullptr},
      {"a.Ass", nullptr},
      {"a.ass ", nullptr},
      {"a.assx", nullptr},
      {"a.ass.txt", nullptr},
      {"a", nullptr},
      {"dir.ass/a", nullptr},
      {"dir.ass/", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    std::string sup = "unchanged";
    EXPECT_EQ(OutputPathFor(c.script, sup), c.sup != nullptr) << c.script;
    EXPECT_EQ(sup, c.sup != nullptr ? c.sup : "unchanged") << c.script;
  }
}

}  // namespace
}  // namespace kelpie
