// File, text and process helpers, and the fixture of the tests that run the
// built program.
#ifndef KELPIE_TESTS_FILE_HELPERS_H_
#define KELPIE_TESTS_FILE_HELPERS_H_

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace kelpie::testing {

namespace fs = std::filesystem;

inline const char kKelpie[] = KELPIE_BINARY_DIR "/driver/kelpie";

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// How often `what` occurs in `text`.
inline int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
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
  int n = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    n += entry.path().filename().string().find(".kelpie-") != std::string::npos;
  }
  return n;
}

// What a finished run of a program gave.
struct Outcome {
  int status = -1;  // exit status; -1 if it did not exit normally
  int signal = 0;   // the signal that ended it, if one did
  std::string out;
  std::string err;
};

// Where the program's standard output and error go.
enum class Streams {
  kFiles,       // each to a file of its own, read into out and err
  kOnePipe,     // both into one pipe, read into out
  kClosedPipe,  // output into a pipe whose reader is gone; error to a file
};

struct RunOptions {
  // Runs in the child just before exec (limits, user switch); a failure
  // there should _exit(126).
  std::function<void()> prepare = nullptr;
  // Runs in the test while the program runs.
  std::function<void(pid_t)> whileRunning = nullptr;
  Streams streams = Streams::kFiles;
};

// Runs `program` with `args` and standard input from /dev/null; the files
// of the captured streams are made in `dir` and removed afterwards. An
// alarm ends a run that hangs.
inline Outcome RunProgram(const char* program, const std::vector<std::string>& args,
                          const fs::path& dir, const RunOptions& options = {}) {
  const fs::path outPath = dir / "stdout.txt", errPath = dir / "stderr.txt";
  int pipeEnds[2] = {-1, -1};
  if (options.streams != Streams::kFiles && pipe2(pipeEnds, O_CLOEXEC) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    const int in = open("/dev/null", O_RDONLY);
    const int out =
        options.streams == Streams::kFiles ? open(outPath.c_str(), flags, 0644) : pipeEnds[1];
    const int err =
        options.streams == Streams::kOnePipe ? pipeEnds[1] : open(errPath.c_str(), flags, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (options.prepare) options.prepare();
    alarm(120);
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  Outcome run;
  if (pipeEnds[1] >= 0) close(pipeEnds[1]);
  if (options.streams == Streams::kClosedPipe) close(pipeEnds[0]);
  if (options.whileRunning) options.whileRunning(pid);
  if (options.streams == Streams::kOnePipe) {
    char chunk[4096];
    for (ssize_t n; (n = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) run.out.append(chunk, n);
    close(pipeEnds[0]);
  }
  int wstatus = 0;
  if (pid > 0 && waitpid(pid, &wstatus, 0) == pid) {
    if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) run.signal = WTERMSIG(wstatus);
  }
  if (options.streams == Streams::kFiles) run.out = ReadFile(outPath);
  run.err = ReadFile(errPath);
  fs::remove(outPath);
  fs::remove(errPath);
  return run;
}

// Each test gets a fresh folder that other users may pass through (for the
// runs as nobody). The program runs with standard input from /dev/null, so
// a start-up error never waits for a key.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelpie_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
  void TearDown() override {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored)) {
      if (entry.is_symlink()) continue;  // never change what a link points to
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(dir_, ignored);
  }

  Outcome Kelpie(const std::vector<std::string>& args, const RunOptions& options = {}) {
    return RunProgram(kKelpie, args, dir_, options);
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

}  // namespace kelpie::testing

#endif  // KELPIE_TESTS_FILE_HELPERS_H_
