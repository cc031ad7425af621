// Small file, text and process helpers shared by the tests that run the
// built program.
#ifndef KELPIE_TESTS_FILE_HELPERS_H_
#define KELPIE_TESTS_FILE_HELPERS_H_

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace kelpie::testing {

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// How often `what` occurs in `text`, overlaps included.
inline int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// What a finished run of a program gave.
struct Outcome {
  int status = -1;  // exit status; -1 if it did not exit normally
  int signal = 0;   // the signal that ended it, if one did
  std::string out;
  std::string err;
};

// Runs `program` with `args`, standard input from /dev/null and both output
// streams captured through files in `dir`. `prepare`, when given, runs in the
// child just before exec (resource limits, user switch); a failure there
// should _exit(126).
inline Outcome RunProgram(const char* program, const std::vector<std::string>& args,
                          const std::filesystem::path& dir,
                          const std::function<void()>& prepare = {}) {
  const std::filesystem::path out_path = dir / "stdout.txt";
  const std::filesystem::path err_path = dir / "stderr.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (prepare) prepare();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program, argv.data());
    _exit(127);
  }
  Outcome run;
  int wstatus = 0;
  if (pid > 0 && waitpid(pid, &wstatus, 0) == pid) {
    if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) run.signal = WTERMSIG(wstatus);
  }
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  std::filesystem::remove(out_path);
  std::filesystem::remove(err_path);
  return run;
}

}  // namespace kelpie::testing

#endif  // KELPIE_TESTS_FILE_HELPERS_H_
