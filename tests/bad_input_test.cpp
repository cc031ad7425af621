// Bad input, bad files and interruptions given to the built program: each
// gets its exact message and exit status, the run goes on where it can, the
// script is never written to, and the ".sup" is either the complete new
// stream or exactly what was there before.
#include <grp.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>

#include "pgs/sup_reader.h"
#include "tests/file_helpers.h"

namespace kelpie {
namespace {

using namespace std::string_literals;
using namespace testing;

constexpr uid_t kNobody = 65534;
const std::string kUsage = "usage: kelpie.exe *.ass\n";

// A script of `events` lines with distinct times.
std::string ManyEvents(int events) {
  std::string script = "[Events]\n";
  for (int i = 0; i < events; ++i) {
    char t[24];
    std::snprintf(t, sizeof t, "%d:%02d:%02d", i / 3600, i / 60 % 60, i % 60);
    script += Dialogue(t + ".00"s, t + ".50"s,
                       "Line " + std::to_string(i) + " of a script\\Nthat fills a disk");
  }
  return script;
}

// Every file under `folder`, not following links: the bytes of regular
// files, the target of links, and a mark for anything else.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().lexically_relative(folder).string();
    files[name] = entry.is_symlink()        ? "-> " + fs::read_symlink(entry.path()).string()
                  : entry.is_regular_file() ? ReadFile(entry.path())
                                            : "(other)";
  }
  return files;
}

std::string Convert(const std::string& utf8, const char* encoding) {
  const iconv_t converter = iconv_open(encoding, "UTF-8");
  std::string out(utf8.size() * 4, '\0');
  char *in = const_cast<char*>(utf8.data()), *at = out.data();
  std::size_t inLeft = utf8.size(), outLeft = out.size();
  iconv(converter, &in, &inLeft, &at, &outLeft);
  iconv_close(converter);
  return out.substr(0, out.size() - outLeft);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

void DropToNobody() {
  if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
}

class BadInputTest : public ProgramTest {
 protected:
  void TearDown() override {
    umount2(Path("disk").c_str(), MNT_DETACH);
    ProgramTest::TearDown();
  }

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
};

TEST_F(BadInputTest, RefusedRunsChangeNoFile) {
  const std::string script = ManyEvents(1);
  for (const char* name : {"upper.ASS", "hard.ass", "soft.ass", "pipe.ass", "taken.ass",
                           "locked.ass", "readonly/film.ass", "secret.ass"}) {
    fs::create_directories((dir_ / name).parent_path());
    WriteFile(dir_ / name, script);
  }
  WriteFile(dir_ / "missing.sup", "the good stream of an earlier run");
  WriteFile(dir_ / "locked.sup", "a stream the user may not replace");
  fs::create_hard_link(dir_ / "hard.ass", dir_ / "hard.sup");
  fs::create_symlink("soft.ass", dir_ / "soft.sup");
  ASSERT_EQ(mkfifo(Path("pipe.sup").c_str(), 0644), 0);  // would block a plain open
  ASSERT_EQ(mkfifo(Path("fifo.ass").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", dir_ / "zero.ass");  // would never end
  fs::create_directory(dir_ / "taken.sup");
  fs::create_directory(dir_ / "folder.ass");
  fs::permissions(dir_ / "locked.sup", fs::perms::owner_read | fs::perms::others_read);
  fs::permissions(dir_ / "secret.ass", fs::perms::none);
  fs::permissions(dir_ / "readonly", fs::perms::owner_read | fs::perms::owner_exec |
                                         fs::perms::others_read | fs::perms::others_exec);

  const auto refused = [&](const std::string& kind, const std::string& name, const char* reason) {
    return "can't open *." + kind + "\n" + Path(name) + ": " + reason + "\n";
  };
  struct Case {
    std::vector<std::string> args;
    std::string err;
    bool denied = false;  // the user lacks a permission: as root, run as nobody
  };
  const Case cases[] = {
      {{}, kUsage},
      {{Path("a.ass"), Path("b.ass")}, kUsage},
      {{Path("upper.ASS")}, kUsage},  // the extension is case-sensitive
      {{Path("missing.ass")}, refused("ass", "missing.ass", "No such file or directory")},
      {{Path("folder.ass")}, refused("ass", "folder.ass", "Is a directory")},
      {{Path("fifo.ass")}, refused("ass", "fifo.ass", "not a regular file")},
      {{Path("zero.ass")}, refused("ass", "zero.ass", "not a regular file")},
      {{Path("hard.ass")}, refused("sup", "hard.sup", "is the script itself")},
      {{Path("soft.ass")}, refused("sup", "soft.sup", "is the script itself")},
      {{Path("pipe.ass")}, refused("sup", "pipe.sup", "not a regular file")},
      {{Path("taken.ass")}, refused("sup", "taken.sup", "Is a directory")},
      {{Path("secret.ass")}, refused("ass", "secret.ass", "Permission denied"), true},
      {{Path("locked.ass")}, refused("sup", "locked.sup", "Permission denied"), true},
      {{Path("readonly/film.ass")}, refused("sup", "readonly/film.sup", "Permission denied"), true},
  };
  const auto before = Snapshot(dir_);
  for (const Case& c : cases) {
    const bool asNobody = c.denied && geteuid() == 0;
    const Outcome run = Kelpie(c.args, {.prepare = asNobody ? DropToNobody : nullptr});
    if (run.status == 126) continue;  // cannot switch to user nobody here
    EXPECT_EQ(run.status, 1) << c.err;
    EXPECT_EQ(run.err + run.out, c.err);
  }
  EXPECT_EQ(Snapshot(dir_), before);
}

TEST_F(BadInputTest, FailedWritesLeaveTheOldStream) {
  // A disk that fills up: a small tmpfs, where the test may mount one,
  // reached through a symbolic link; and a file-size limit (the program
  // ignores SIGXFSZ, so past it every write fails with EFBIG).
  WriteFile(dir_ / "long.ass", ManyEvents(40));
  fs::create_directory(dir_ / "disk");
  const bool mounted = mount("tmpfs", Path("disk").c_str(), "tmpfs", 0, "size=64k") == 0;
  const std::string mountError = std::strerror(errno);
  const std::string old = "the good stream of an earlier run";
  for (const bool onTmpfs : {true, false}) {
    if (onTmpfs && !mounted) {
      std::printf("[  SKIPPED ] the full tmpfs: cannot mount one here (%s)\n", mountError.c_str());
      continue;
    }
    const std::string reason = onTmpfs ? "No space left on device" : "File too large";
    const rlim_t limit = onTmpfs ? RLIM_INFINITY : 50000;
    const fs::path target = onTmpfs ? dir_ / "disk" / "long.sup" : dir_ / "long.sup";
    fs::remove(dir_ / "long.sup");
    if (onTmpfs) fs::create_symlink(target, dir_ / "long.sup");
    WriteFile(target, old);
    const Outcome run = Kelpie({Path("long.ass")}, {.prepare = [limit] {
                                 const rlimit l = {limit, limit};
                                 if (setrlimit(RLIMIT_FSIZE, &l) != 0) _exit(126);
                               }});
    EXPECT_EQ(run.status, 1) << reason;
    EXPECT_TRUE(run.err.ends_with("can't write " + Path("long.sup") + ": " + reason + "\n"));
    EXPECT_TRUE(ReadFile(target) == old) << reason;
    EXPECT_EQ(fs::is_symlink(dir_ / "long.sup"), onTmpfs);
    EXPECT_EQ(Temporaries(target.parent_path()), 0);
  }

  // Without a limit the script converts. A replaced ".sup" keeps its mode;
  // a new one gets 0666 less the umask.
  fs::remove(dir_ / "long.sup");
  WriteFile(dir_ / "long.sup", old);
  fs::permissions(dir_ / "long.sup", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Kelpie({Path("long.ass")}).status, 0);
  EXPECT_EQ(Sets(Path("long.sup")).size(), 80u);
  EXPECT_EQ(fs::status(dir_ / "long.sup").permissions(), fs::perms(0600));
  fs::copy_file(dir_ / "long.ass", dir_ / "new.ass");
  EXPECT_EQ(Kelpie({Path("new.ass")}, {.prepare = [] { umask(002); }}).status, 0);
  EXPECT_EQ(fs::status(dir_ / "new.sup").permissions(), fs::perms(0664));
  EXPECT_EQ(Temporaries(dir_), 0);
}

TEST_F(BadInputTest, InterruptedRunsLeaveAWholeStream) {
  // SIGTERM while the stream is written: the old ".sup" stays as it was, and
  // the temporary file goes with the program.
  WriteFile(dir_ / "long.ass", ManyEvents(600));
  WriteFile(dir_ / "long.sup", "old");
  Outcome run = Kelpie({Path("long.ass")}, {.whileRunning = [&](pid_t pid) {
                         for (int i = 0; i < 20000 && Temporaries(dir_) == 0; ++i) usleep(500);
                         kill(pid, SIGTERM);
                       }});
  EXPECT_EQ(run.signal, SIGTERM);
  EXPECT_EQ(ReadFile(dir_ / "long.sup"), "old");
  EXPECT_EQ(Temporaries(dir_), 0);

  // Standard output into a pipe whose reader is gone (kelpie x.ass | head -1):
  // the conversion goes on to the end.
  run = Kelpie({Path("long.ass")}, {.streams = Streams::kClosedPipe});
  EXPECT_EQ(run.status, 0) << "signal " << run.signal;
  EXPECT_EQ(Sets(Path("long.sup")).size(), 1200u);
}

TEST_F(BadInputTest, LineTooLongForTheMemory) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "address-space limits cannot work under AddressSanitizer";
#endif
  // A 64 MiB comment line: under 60 MiB of address space it cannot be read
  // at all; under 150 MiB it is read but cannot be copied.
  WriteFile(dir_ / "huge.ass", "[Events]\n" + Dialogue("0:00:01.00", "0:00:02.00", "before") +
                                   "Comment: " + std::string(64 << 20, 'x') + "\n" +
                                   Dialogue("0:00:03.00", "0:00:04.00", "after"));
  for (const rlim_t mebibytes : {60, 150}) {
    const Outcome run = Kelpie({Path("huge.ass")}, {.prepare = [mebibytes] {
                                 const rlimit l = {mebibytes << 20, mebibytes << 20};
                                 if (setrlimit(RLIMIT_AS, &l) != 0) _exit(126);
                               }});
    EXPECT_EQ(run.status, 1) << mebibytes;
    EXPECT_TRUE(run.err.ends_with("can't read " + Path("huge.ass") + ": not enough memory\n"))
        << mebibytes << " MiB: " << run.err;
    EXPECT_FALSE(fs::exists(dir_ / "huge.sup"));
    EXPECT_EQ(Temporaries(dir_), 0);
  }
}

TEST_F(BadInputTest, ScriptWithoutDialogueSaysSo) {
  // An empty stream, and a warning: the script may be in a form not read.
  WriteFile(dir_ / "empty.ass", "[Script Info]\r\nPlayResX: 1920\r\n");
  const Outcome empty = Kelpie({Path("empty.ass")});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.err, Path("empty.ass") + ": no Dialogue lines; the stream is empty\nfinished\n");
  EXPECT_EQ(ReadFile(dir_ / "empty.sup"), "");
}

TEST_F(BadInputTest, EncodingsAndLineEndsGiveTheSameStream) {
  const std::string text =
      "[Script Info]\nPlayResX: 640\nPlayResY: 480\n[Events]\n" +
      Dialogue("0:00:01.00", "0:00:02.00", "Ça va très bien, merci.") +
      Dialogue("0:00:03.00", "0:00:04.00", "{\\pos(320,200)}Où est la bibliothèque? À gauche.") +
      Dialogue("0:00:05.00", "0:00:06.00", "Il était une fois un garçon très âgé.");
  WriteFile(dir_ / "utf8.ass", text);
  const Outcome reference = Kelpie({Path("utf8.ass")});
  EXPECT_EQ(reference.err.find(": "), std::string::npos) << reference.err;  // no warning
  const std::string sup = ReadFile(dir_ / "utf8.sup");
  EXPECT_EQ(Sets(Path("utf8.sup")).size(), 6u);

  struct Variant {
    std::string name;
    std::string bytes;
    std::string detected;  // the encoding a warning names, if any
  };
  const Variant variants[] = {
      {"crlf", Replace(text, "\n", "\r\n"), ""},
      {"cr", Replace(text, "\n", "\r"), ""},  // classic Mac OS
      {"utf16le", "\xFF\xFE" + Convert(text, "UTF-16LE"), ""},
      {"utf16be", "\xFE\xFF" + Convert(Replace(text, "\n", "\r\n"), "UTF-16BE"), ""},
      {"utf16le-unmarked", Convert(text, "UTF-16LE"), "UTF-16LE"},
      {"utf16be-unmarked", Convert(text, "UTF-16BE"), "UTF-16BE"},
      {"utf32le", "\xFF\xFE\0\0"s + Convert(text, "UTF-32LE"), ""},
      {"utf32be", "\0\0\xFE\xFF"s + Convert(Replace(text, "\n", "\r"), "UTF-32BE"), ""},
      {"latin1", Convert(text, "ISO-8859-1"), "ISO-8859-1"},
  };
  for (const Variant& v : variants) {
    WriteFile(dir_ / (v.name + ".ass"), v.bytes);
    const Outcome run = Kelpie({Path(v.name + ".ass")});
    EXPECT_EQ(run.status, 0) << v.name;
    EXPECT_EQ(run.err.substr(0, run.err.find("<subtitle")),
              v.detected.empty()
                  ? ""
                  : Path(v.name + ".ass") + ": not UTF-8; reading it as " + v.detected + "\n");
    EXPECT_TRUE(ReadFile(dir_ / (v.name + ".sup")) == sup) << v.name;
  }
}

}  // namespace
}  // namespace kelpie
