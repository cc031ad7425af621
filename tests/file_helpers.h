// File, text and process helpers, and the fixture of the tests that run the
// built program.
#ifndef KELPIE_TESTS_FILE_HELPERS_H_
#define KELPIE_TESTS_FILE_HELPERS_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace kelpie::testing {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string Dialogue(const std::string& start, const std::string& end,
                            const std::string& text) {
  return "Dialogue: 0," + start + "," + end + ",Default,,0,0,0,," + text + "\n";
}

// How many of the program's temporary files (".<name>.kelpie-XXXXXX") are in `folder`.
inline int Temporaries(const fs::path& folder) {
  return std::count_if(fs::directory_iterator(folder), {}, [](const fs::directory_entry& e) {
    return e.path().filename().string().find(".kelpie-") != std::string::npos;
  });
}

// What a finished run of a program gave.
struct Outcome {
  int status = -1, signal = 0;  // the exit status (or -1), the signal that ended it (or 0)
  std::string out, err;
};

struct RunOptions {
  // Runs in the child just before exec (limits, user switch, environment,
  // other streams); a failure there should _exit(126).
  std::function<void()> prepare = nullptr;
  std::function<void(pid_t)> whileRunning = nullptr;  // runs in the test meanwhile
};

// Runs `program` with `args`, standard input from /dev/null (so that a
// start-up error never waits for a key), standard output into a pipe read
// into out and standard error into a file in `dir`, read into err and
// removed. An alarm ends a run that hangs.
inline Outcome RunProgram(const char* program, const std::vector<std::string>& args,
                          const fs::path& dir, const RunOptions& options = {}) {
  const fs::path errPath = dir / "stderr.txt";
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (dup2(open("/dev/null", O_RDONLY), 0) < 0 || dup2(ends[1], 1) < 0 || dup2(err, 2) < 0)
      _exit(127);
    if (options.prepare) options.prepare();
    alarm(120);
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  Outcome run;
  close(ends[1]);
  if (options.whileRunning) options.whileRunning(pid);
  char chunk[4096];
  for (ssize_t n; (n = read(ends[0], chunk, sizeof chunk)) > 0;) run.out.append(chunk, n);
  close(ends[0]);
  int wstatus = -1;  // neither exited nor signalled, if there is nothing to wait for
  waitpid(pid, &wstatus, 0);
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  run.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  run.err = ReadFile(errPath);
  fs::remove(errPath);
  return run;
}

// Each test gets a fresh folder that other users may pass through (for the
// runs as nobody).
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelpie_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
  void TearDown() override {
    // chmod -R leaves alone what the links in the folder point to.
    EXPECT_EQ(std::system(("chmod -R u+rwx '" + dir_.string() + "'").c_str()), 0);
    fs::remove_all(dir_);
  }

  Outcome Kelpie(const std::vector<std::string>& args, const RunOptions& options = {}) {
    return RunProgram(KELPIE_BINARY_DIR "/driver/kelpie", args, dir_, options);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

}  // namespace kelpie::testing

#endif  // KELPIE_TESTS_FILE_HELPERS_H_
