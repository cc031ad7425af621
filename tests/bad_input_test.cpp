// Bad input, bad files and interruptions given to the built program: each
// gets its exact message and exit status, the run goes on where it can, the
// script is never written to, and the ".sup" is either the complete new
// stream or exactly what was there before.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "pgs/sup_reader.h"
#include "tests/file_helpers.h"

namespace kelpie {
namespace {

using namespace std::string_literals;
using namespace testing;

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

// How many display sets the stream `sup` holds; 0 if it is malformed.
std::size_t DisplaySets(const fs::path& sup) {
  const std::string bytes = ReadFile(sup);
  std::vector<SupDisplaySet> sets;
  SupError error;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  return ReadSup(data, bytes.size(), sets, error) ? sets.size() : 0;
}

// `utf8`, whose characters are all below U+0100, in code units of `size`
// bytes (1 for Latin-1), big- or little-endian.
std::string Encode(const std::string& utf8, int size, bool bigEndian) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); i += utf8[i] & 0x80 ? 2 : 1) {
    const int c = utf8[i] & 0x80 ? utf8[i] << 6 | (utf8[i + 1] & 0x3F) : utf8[i];
    for (int k = 0; k < size; ++k)
      out += static_cast<char>(k == (bigEndian ? size - 1 : 0) ? c : 0);
  }
  return out;
}

// A step for RunOptions::prepare: a limit on `resource`.
std::function<void()> Limit(decltype(RLIMIT_AS) resource, rlim_t value) {
  return [=] {
    if (const rlimit limit = {value, value}; setrlimit(resource, &limit) != 0) _exit(126);
  };
}

// As root, becomes user nobody, who lacks the permissions the test takes away.
void DropToNobody() {
  if (geteuid() == 0 && (setgroups(0, nullptr) || setgid(65534) || setuid(65534))) _exit(126);
}

using BadInputTest = ProgramTest;

TEST_F(BadInputTest, RefusedRunsChangeNoFile) {
  for (const char* d : {"taken.sup", "folder.ass", "readonly"}) fs::create_directory(dir_ / d);
  // Scripts, and the streams of earlier runs that must stay as they are.
  for (const char* name :
       {"upper.ASS", "hard.ass", "soft.ass", "pipe.ass", "taken.ass", "locked.ass",
        "readonly/film.ass", "secret.ass", "missing.sup", "locked.sup"})
    WriteFile(dir_ / name, ManyEvents(1));
  fs::create_hard_link(dir_ / "hard.ass", dir_ / "hard.sup");
  fs::create_symlink("soft.ass", dir_ / "soft.sup");
  ASSERT_EQ(mkfifo(Path("pipe.sup").c_str(), 0644), 0);  // would block a plain open
  ASSERT_EQ(mkfifo(Path("fifo.ass").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", dir_ / "zero.ass");  // would never end
  fs::permissions(dir_ / "locked.sup", fs::perms::owner_read | fs::perms::others_read);
  fs::permissions(dir_ / "secret.ass", fs::perms::none);
  fs::permissions(dir_ / "readonly", fs::perms(0555));

  // The file refused and why; the extension is case-sensitive.
  const auto refused = [&](const std::string& f, const char* why) {
    return "can't open *" + fs::path(f).extension().string() + "\n" + Path(f) + ": " + why + "\n";
  };
  const std::string usage = "usage: kelpie.exe *.ass\n";
  // Arguments, message, and whether the user lacks a permission.
  const std::tuple<std::vector<std::string>, std::string, bool> cases[] = {
      {{}, usage, false},
      {{Path("a.ass"), Path("b.ass")}, usage, false},
      {{Path("upper.ASS")}, usage, false},
      {{Path("missing.ass")}, refused("missing.ass", "No such file or directory"), false},
      {{Path("folder.ass")}, refused("folder.ass", "Is a directory"), false},
      {{Path("fifo.ass")}, refused("fifo.ass", "not a regular file"), false},
      {{Path("zero.ass")}, refused("zero.ass", "not a regular file"), false},
      {{Path("hard.ass")}, refused("hard.sup", "is the script itself"), false},
      {{Path("soft.ass")}, refused("soft.sup", "is the script itself"), false},
      {{Path("pipe.ass")}, refused("pipe.sup", "not a regular file"), false},
      {{Path("taken.ass")}, refused("taken.sup", "Is a directory"), false},
      {{Path("secret.ass")}, refused("secret.ass", "Permission denied"), true},
      {{Path("locked.ass")}, refused("locked.sup", "Permission denied"), true},
      {{Path("readonly/film.ass")}, refused("readonly/film.sup", "Permission denied"), true},
  };
  // Every file with its mode, size and time to the nanosecond; links with
  // their targets.
  const auto listing = [this] {
    return RunProgram("/bin/ls", {"-lR", "--time-style=full-iso", dir_}, dir_.parent_path()).out;
  };
  const std::string before = listing();
  for (const auto& [args, err, denied] : cases) {
    const Outcome run = Kelpie(args, {.prepare = denied ? DropToNobody : nullptr});
    if (run.status == 126) continue;  // cannot switch to user nobody here
    EXPECT_EQ(std::pair(run.status, run.err + run.out), std::pair(1, err));
  }
  EXPECT_EQ(listing(), before);
}

TEST_F(BadInputTest, FailedWritesLeaveTheOldStream) {
  // A disk that fills up: a small tmpfs, where the test may mount one,
  // reached through a symbolic link; and a file-size limit (the program
  // ignores SIGXFSZ, so past it every write fails with EFBIG).
  WriteFile(dir_ / "long.ass", ManyEvents(40));
  fs::create_directory(dir_ / "disk");
  const bool mounted = mount("tmpfs", Path("disk").c_str(), "tmpfs", 0, "size=64k") == 0;
  if (!mounted) std::printf("[  SKIPPED ] the full tmpfs: cannot mount (%s)\n", strerror(errno));
  const std::string old = "the good stream of an earlier run";
  for (const bool onTmpfs : {true, false}) {
    if (onTmpfs && !mounted) continue;
    const std::string reason = onTmpfs ? "No space left on device" : "File too large";
    const fs::path target = onTmpfs ? dir_ / "disk" / "long.sup" : dir_ / "long.sup";
    fs::remove(dir_ / "long.sup");
    if (onTmpfs) fs::create_symlink(target, dir_ / "long.sup");
    WriteFile(target, old);
    const Outcome run = Kelpie({Path("long.ass")},
                               {.prepare = Limit(RLIMIT_FSIZE, onTmpfs ? RLIM_INFINITY : 50000)});
    EXPECT_EQ(std::tuple(run.status, ReadFile(target) == old, fs::is_symlink(dir_ / "long.sup"),
                         Temporaries(target.parent_path())),
              std::tuple(1, true, onTmpfs, 0));
    EXPECT_TRUE(run.err.ends_with("can't write " + Path("long.sup") + ": " + reason + "\n"));
  }
  umount2(Path("disk").c_str(), MNT_DETACH);
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
  EXPECT_EQ(std::tuple(run.signal, ReadFile(dir_ / "long.sup"), Temporaries(dir_)),
            std::tuple(SIGTERM, "old", 0));

  // Standard output into a pipe whose reader is gone (kelpie x.ass | head -1):
  // the conversion goes on to the end. The replaced ".sup" keeps its mode.
  fs::permissions(dir_ / "long.sup", fs::perms(0600));
  run = Kelpie({Path("long.ass")}, {.prepare = [] {
                 int ends[2];
                 if (pipe(ends) != 0 || dup2(ends[1], 1) < 0 || close(ends[0]) != 0) _exit(126);
               }});
  EXPECT_EQ(std::tuple(run.status, run.signal, DisplaySets(dir_ / "long.sup"),
                       fs::status(dir_ / "long.sup").permissions()),
            std::tuple(0, 0, std::size_t{1200}, fs::perms(0600)));
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
    const Outcome run = Kelpie({Path("huge.ass")}, {.prepare = Limit(RLIMIT_AS, mebibytes << 20)});
    EXPECT_EQ(std::tuple(run.status, fs::exists(dir_ / "huge.sup"), Temporaries(dir_)),
              std::tuple(1, false, 0));
    EXPECT_TRUE(run.err.ends_with("can't read " + Path("huge.ass") + ": not enough memory\n"))
        << mebibytes << " MiB: " << run.err;
  }
}

TEST_F(BadInputTest, EncodingsAndLineEndsGiveTheSameStream) {
  const std::string text =
      "[Script Info]\nPlayResX: 640\nPlayResY: 480\n[Events]\n" +
      Dialogue("0:00:01.00", "0:00:02.00", "Ça va très bien, merci.") +
      Dialogue("0:00:03.00", "0:00:04.00", "{\\pos(320,200)}Où est la bibliothèque? À gauche.") +
      Dialogue("0:00:05.00", "0:00:06.00", "Il était une fois un garçon très âgé.");
  WriteFile(dir_ / "utf8.ass", text);
  // No warning; a new ".sup" gets 0666 less the umask.
  const Outcome reference = Kelpie({Path("utf8.ass")}, {.prepare = [] { umask(002); }});
  EXPECT_EQ(reference.err.find(": "), std::string::npos) << reference.err;
  EXPECT_EQ(std::pair(DisplaySets(dir_ / "utf8.sup"), fs::status(dir_ / "utf8.sup").permissions()),
            std::pair(std::size_t{6}, fs::perms(0664)));

  std::string crlf, cr;  // the second as classic Mac OS wrote it
  for (char c : text) {
    crlf += c == '\n' ? "\r\n" : std::string(1, c);
    cr += c == '\n' ? '\r' : c;
  }
  // Name, bytes, and the encoding a warning names, if any.
  const std::tuple<std::string, std::string, std::string> variants[] = {
      {"crlf", crlf, ""},
      {"cr", cr, ""},
      {"utf16le", "\xFF\xFE" + Encode(text, 2, false), ""},
      {"utf16be", "\xFE\xFF" + Encode(crlf, 2, true), ""},
      {"utf16le-unmarked", Encode(text, 2, false), "UTF-16LE"},
      {"utf16be-unmarked", Encode(text, 2, true), "UTF-16BE"},
      {"utf32le", "\xFF\xFE\0\0"s + Encode(text, 4, false), ""},
      {"utf32be", "\0\0\xFE\xFF"s + Encode(cr, 4, true), ""},
      {"latin1", Encode(text, 1, false), "ISO-8859-1"},
  };
  for (const auto& [name, bytes, detected] : variants) {
    WriteFile(dir_ / (name + ".ass"), bytes);
    const Outcome run = Kelpie({Path(name + ".ass")});
    const std::string warning =
        Path(name + ".ass") + ": not UTF-8; reading it as " + detected + "\n";
    EXPECT_EQ(run.err.substr(0, run.err.find("<subtitle")), detected.empty() ? "" : warning);
    EXPECT_TRUE(run.status == 0 && ReadFile(dir_ / (name + ".sup")) == ReadFile(dir_ / "utf8.sup"))
        << name;
  }

  // No Dialogue line: an empty stream, and a warning that the script may be
  // in a form not read.
  WriteFile(dir_ / "empty.ass", "[Script Info]\r\nPlayResX: 1920\r\n");
  const Outcome empty = Kelpie({Path("empty.ass")});
  EXPECT_EQ(std::tuple(empty.status, ReadFile(dir_ / "empty.sup")), std::tuple(0, ""));
  EXPECT_EQ(empty.err, Path("empty.ass") + ": no Dialogue lines; the stream is empty\nfinished\n");
}

}  // namespace
}  // namespace kelpie
