// Bad input and bad files given to the built program: each gets its message
// and exit status, the run goes on where it can, and no ".sup" that looks
// complete is left behind after a failed write.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pgs/sup_reader.h"
#include "tests/file_helpers.h"

namespace kelpie {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const char kKelpie[] = KELPIE_BINARY_DIR "/driver/kelpie";
constexpr uid_t kNobody = 65534;

using testing::CountOf;
using testing::ReadFile;
using testing::WriteFile;

std::string Dialogue(const std::string& start, const std::string& end, const std::string& text) {
  return "Dialogue: 0," + start + "," + end + ",Default,,0,0,0,," + text + "\n";
}

// Deterministic bytes that no detector takes for text, without line feeds.
std::string Garbage(std::size_t size) {
  std::string bytes;
  bytes.reserve(size);
  std::uint32_t x = 12345;
  while (bytes.size() < size) {
    x = x * 1103515245u + 12345u;
    const char c = static_cast<char>(x >> 16 & 0xFF);
    if (c != '\n' && c != '\0') bytes.push_back(c);
  }
  return bytes;
}

std::string Utf16Le(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Utf16Be(const std::u16string& text) {
  std::string bytes = "\xFE\xFF";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit >> 8));
    bytes.push_back(static_cast<char>(unit & 0xFF));
  }
  return bytes;
}

using testing::Outcome;

struct RunOptions {
  bool as_nobody = false;                  // run as user and group 65534
  rlim_t file_size_limit = RLIM_INFINITY;  // RLIMIT_FSIZE in bytes
};

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelpie_bad_input_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // Other users may pass through (for the runs as nobody).
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
  void TearDown() override {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(dir_, ignored);
  }

  // Runs the built program on `script` with standard input from /dev/null;
  // an alarm ends a run that hangs.
  Outcome Kelpie(const std::string& script, const RunOptions& options = {}) {
    Outcome run = testing::RunProgram(kKelpie, {script}, dir_, [&options] {
      if (options.file_size_limit != RLIM_INFINITY) {
        const rlimit limit = {options.file_size_limit, options.file_size_limit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
      }
      if (options.as_nobody &&
          (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
        _exit(126);
      }
      alarm(120);
    });
    EXPECT_NE(run.status, -1) << "kelpie did not exit normally (signal " << run.signal << ")";
    return run;
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // The display sets of a written stream; fails the test if it is malformed.
  std::vector<SupDisplaySet> Sets(const std::string& sup) {
    const std::string bytes = ReadFile(sup);
    std::vector<SupDisplaySet> sets;
    SupError error;
    EXPECT_TRUE(
        ReadSup(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), sets, error))
        << sup << " at byte " << error.offset << ": " << error.message;
    return sets;
  }

  fs::path dir_;
};

// A script of `events` lines with distinct times, enough to write some
// hundred kilobytes.
std::string ManyEvents(int events) {
  std::string script = "[Events]\n";
  for (int i = 0; i < events; ++i) {
    char start[16], end[16];
    std::snprintf(start, sizeof start, "0:%02d:%02d.00", i / 60, i % 60);
    std::snprintf(end, sizeof end, "0:%02d:%02d.50", i / 60, i % 60);
    script +=
        Dialogue(start, end, "Line " + std::to_string(i) + " of a script\\Nthat fills a disk");
  }
  return script;
}

TEST_F(BadInputTest, ScriptThatCannotBeRead) {
  // A FIFO would block a plain open; a device would never end. Neither is
  // read, and the run ends at once.
  ASSERT_EQ(mkfifo(Path("fifo.ass").c_str(), 0644), 0);
  Outcome run = Kelpie(Path("fifo.ass"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "can't open *.ass\n" + Path("fifo.ass") + ": not a regular file\n");
  fs::create_symlink("/dev/zero", dir_ / "zero.ass");
  run = Kelpie(Path("zero.ass"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "can't open *.ass\n" + Path("zero.ass") + ": not a regular file\n");

  // No read permission. Root reads any file, so as root the program runs as
  // the unprivileged user nobody, in a folder where it may create the ".sup".
  const fs::path folder = dir_ / "open";
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::all);
  const fs::path script = folder / "secret.ass";
  WriteFile(script, ManyEvents(1));
  fs::permissions(script, fs::perms::none);
  run = Kelpie(script.string(), {.as_nobody = geteuid() == 0});
  if (run.status == 126) GTEST_SKIP() << "cannot run as user " << kNobody;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "can't open *.ass\n" + script.string() + ": Permission denied\n");
  EXPECT_EQ(run.out, "");
  // The ".sup" was created first and stays, empty, as it always did.
  ASSERT_TRUE(fs::is_regular_file(folder / "secret.sup"));
  EXPECT_EQ(fs::file_size(folder / "secret.sup"), 0u);
}

TEST_F(BadInputTest, OutputThatCannotBeCreated) {
  // The path's folder is a regular file.
  WriteFile(dir_ / "plain", "");
  Outcome run = Kelpie(Path("plain") + "/episode.ass");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "can't open *.sup\n" + Path("plain") + "/episode.sup: Not a directory\n");
  // The folder does not exist.
  run = Kelpie(Path("none") + "/episode.ass");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "can't open *.sup\n" + Path("none") + "/episode.sup: No such file or directory\n");

  // A folder the user may not write to (as root: run as nobody in a folder
  // of root's; otherwise take the write permission away).
  const fs::path folder = dir_ / "readonly";
  fs::create_directory(folder);
  WriteFile(folder / "film.ass", ManyEvents(1));
  fs::permissions(folder / "film.ass", fs::perms::owner_read | fs::perms::others_read);
  const bool as_root = geteuid() == 0;
  fs::permissions(folder,
                  as_root ? fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec
                          : fs::perms::owner_read | fs::perms::owner_exec);
  run = Kelpie((folder / "film.ass").string(), {.as_nobody = as_root});
  if (run.status == 126) GTEST_SKIP() << "cannot run as user " << kNobody;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "can't open *.sup\n" + (folder / "film.sup").string() + ": Permission denied\n");
  EXPECT_FALSE(fs::exists(folder / "film.sup"));
}

TEST_F(BadInputTest, DiskFullWhileWritingLeavesNoStream) {
  // A file-size limit stands in for a disk that fills up: past it every write
  // fails with EFBIG (the program ignores the SIGXFSZ that would kill it).
  WriteFile(dir_ / "long.ass", ManyEvents(40));
  Outcome run = Kelpie(Path("long.ass"), {.file_size_limit = 50000});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.ends_with("can't write " + Path("long.sup") + ": File too large\n"))
      << run.err.substr(run.err.size() - std::min<std::size_t>(run.err.size(), 400));
  EXPECT_EQ(run.err.find("finished"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "long.sup"));

  // Without the limit the same script converts.
  run = Kelpie(Path("long.ass"));
  EXPECT_EQ(run.status, 0);
  EXPECT_GT(fs::file_size(dir_ / "long.sup"), 50000u);
}

TEST_F(BadInputTest, LimitsAreWarnedAboutAndTheRunGoesOn) {
  const std::string script = Path("limits.ass");
  WriteFile(script,
            "[Script Info]\n"                                                   // 1
            "PlayResX: 0\n"                                                     // 2
            "PlayResY: 16384\n"                                                 // 3
            "PlayResX: 640\n"                                                   // 4
            "[Events]\n" +                                                      // 5
                Dialogue("0:00:01.00", "13:14:34.19", "past the clock") +       // 6
                Dialogue("0:00:01.00", "0:00:02.00", "Hello\0hidden"s) +        // 7
                Dialogue("13:14:34.00", "13:14:34.18", "the last that fits") +  // 8
                "Dialogue: 0,0:00:0\0"
                "3.00,0:00:04.00,Default,,0,0,0,,cut\n"s);  // 9
  const Outcome run = Kelpie(script);
  EXPECT_EQ(run.status, 0);
  const std::string expected_warnings =
      script + ":2: PlayResX 0 is outside 1 to 8192; 1440 stays\n" + script +
      ":3: PlayResY 16384 is outside 1 to 8192; 1080 stays\n" + script +
      ":6: dialogue ends after 13:14:34.184, the last time the stream's clock holds; skipped\n" +
      script + ":7: NUL byte at column 56 ends the line\n";
  EXPECT_EQ(run.err.substr(0, expected_warnings.size()), expected_warnings);
  EXPECT_NE(
      run.err.find(script + ":9: NUL byte at column 19 ends the line; dialogue line has fewer than "
                            "nine commas; skipped\n"),
      std::string::npos);
  EXPECT_TRUE(run.err.ends_with("finished\n"));

  // Two pictures, in a 640 x 1080 video; the second is cleared at the last
  // tick the clock holds before it wraps.
  const std::vector<SupDisplaySet> sets = Sets(Path("limits.sup"));
  ASSERT_EQ(sets.size(), 4u);
  EXPECT_EQ(sets[0].composition.videoWidth, 640);
  EXPECT_EQ(sets[0].composition.videoHeight, 1080);
  EXPECT_GT(sets[3].pts, 0xFFF00000u);
}

TEST_F(BadInputTest, EncodingsGiveTheSameStream) {
  // The same text in UTF-8, UTF-16 of both byte orders, and, for a text that
  // it can hold, ISO-8859-1, gives the same bytes.
  const std::u16string text =
      u"[Script Info]\r\nPlayResX: 640\r\nPlayResY: 480\r\n[Events]\r\n"
      u"Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,\u6D99\u3067\u6EF2\u3093\u3060"
      u"\\N\u7A7A\u3092\u898B\u4E0A\u3052\u308B\r\n"
      u"Dialogue: 0,0:00:04.00,0:00:05.00,Default,,0,0,0,,{\\pos(320,200)}caf\u00E9\r\n";
  std::string utf8;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint32_t c = text[i];
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      utf8 += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      utf8 += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
               static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  WriteFile(dir_ / "utf8.ass", utf8);
  WriteFile(dir_ / "le.ass", Utf16Le(text));
  WriteFile(dir_ / "be.ass", Utf16Be(text));
  for (const char* name : {"utf8", "le", "be"}) {
    const Outcome run = Kelpie(Path(name + ".ass"s));
    EXPECT_EQ(run.status, 0) << name;
    EXPECT_EQ(CountOf(run.err, "<subtitle starttime="), 2) << name;
    EXPECT_EQ(run.err.find(": "), std::string::npos) << name << ": no warning\n" << run.err;
  }
  const std::string utf8_sup = ReadFile(dir_ / "utf8.sup");
  EXPECT_EQ(Sets(Path("utf8.sup")).size(), 4u);
  EXPECT_EQ(ReadFile(dir_ / "le.sup"), utf8_sup);
  EXPECT_EQ(ReadFile(dir_ / "be.sup"), utf8_sup);

  const std::string french =
      "[Events]\n" +
      Dialogue("0:00:01.00", "0:00:02.00",
               "\xC7"
               "a va tr\xE8s bien, merci.") +
      Dialogue("0:00:03.00", "0:00:04.00", "O\xF9 est la biblioth\xE8que? \xC0 gauche.") +
      Dialogue("0:00:05.00", "0:00:06.00", "Il \xE9tait une fois un gar\xE7on tr\xE8s \xE2g\xE9.");
  std::string french_utf8;
  for (const char c : french) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      french_utf8.push_back(c);
    } else {
      french_utf8 += {static_cast<char>(0xC0 | b >> 6), static_cast<char>(0x80 | (b & 0x3F))};
    }
  }
  WriteFile(dir_ / "latin1.ass", french);
  WriteFile(dir_ / "french.ass", french_utf8);
  const Outcome latin1 = Kelpie(Path("latin1.ass"));
  EXPECT_EQ(latin1.status, 0);
  EXPECT_EQ(latin1.err.find(Path("latin1.ass") + ": not UTF-8; reading it as ISO-8859-1\n"), 0u)
      << latin1.err;
  EXPECT_EQ(CountOf(latin1.err, "not UTF-8"), 1);
  EXPECT_EQ(Kelpie(Path("french.ass")).status, 0);
  EXPECT_EQ(ReadFile(dir_ / "latin1.sup"), ReadFile(dir_ / "french.sup"));
}

TEST_F(BadInputTest, GarbageLineIsSkipped) {
  // A 5 MB line of bytes in no encoding: one warning names it as the first
  // line that is not UTF-8, another says why the dialogue is skipped, and the
  // lines around it are converted.
  const std::string script = Path("garbage.ass");
  WriteFile(script, "[Events]\n" + Dialogue("0:00:01.00", "0:00:02.00", "before") + "Dialogue: " +
                        Garbage(5 << 20) + "\n" + Dialogue("0:00:03.00", "0:00:04.00", "after"));
  const Outcome run = Kelpie(script);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.find(script +
                         ":3: not UTF-8, and its encoding is not recognised; invalid bytes are "
                         "drawn as U+FFFD\n" +
                         script + ":3: dialogue times do not parse; skipped\n"),
            0u)
      << run.err.substr(0, 300);
  EXPECT_EQ(CountOf(run.err, "<subtitle starttime="), 2);
  EXPECT_TRUE(run.err.ends_with("finished\n"));
  EXPECT_EQ(Sets(Path("garbage.sup")).size(), 4u);
}

}  // namespace
}  // namespace kelpie
