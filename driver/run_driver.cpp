#include "driver/run_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "driver/pipeline.h"
#include "driver/reporter.h"
#include "driver/script_reader.h"
#include "platform/instruction_set.h"
#include "platform/script_file.h"
#include "platform/text_face.h"

namespace kelpie {

namespace {

constexpr char kUsage[] = "usage: kelpie.exe *.ass";
constexpr char kCantOpenSup[] = "can't open *.sup";
constexpr char kCantOpenAss[] = "can't open *.ass";
constexpr char kIsTheScript[] = "is the script itself";
constexpr char kNotEnoughMemory[] = "not enough memory";
constexpr char kNoDialogue[] = "no Dialogue lines; the stream is empty";

void ReportFileWarnings(ScriptFile& script, const std::string& scriptPath, Reporter& reporter) {
  for (const ScriptWarning& w : script.TakeWarnings()) {
    reporter.ScriptWarning(scriptPath, w.line, w.message);
  }
}

// The instruction set of the pixel loops: the widest the processor has, or
// the one KELPIE_ISA names (for tests and benchmarks of each set).
InstructionSet ChosenInstructionSet(Reporter& reporter) {
  const InstructionSetChoice choice = ChooseInstructionSetByName(std::getenv("KELPIE_ISA"));
  if (!choice.warning.empty()) reporter.Warning(choice.warning);
  return choice.set;
}

// The number of picture makers: KELPIE_THREADS when it names one, else one
// per core, at most kMaxThreads (each keeps tables and pictures of its own,
// and the run's memory should not grow with the machine).
int ThreadCount(Reporter& reporter) {
  constexpr int kMaxThreads = 8;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int fallback = std::min(cores, kMaxThreads);
  const char* value = std::getenv("KELPIE_THREADS");
  if (value == nullptr || *value == '\0') return fallback;
  char* end = nullptr;
  const long n = std::strtol(value, &end, 10);
  if (*end != '\0' || n < 1 || n > 64) {
    reporter.Warning("KELPIE_THREADS=" + std::string(value) +
                     ": not a number from 1 to 64; using " + std::to_string(fallback));
    return fallback;
  }
  return static_cast<int>(n);
}

}  // namespace

std::vector<SubtitleEvent> ReadEvents(ScriptFile& script, const std::string& scriptPath,
                                      Reporter& reporter) {
  std::vector<SubtitleEvent> events;
  PlayRes playRes;
  SubtitleEvent event;
  std::string line;
  std::string warning;
  ReportFileWarnings(script, scriptPath, reporter);
  while (script.NextLine(line)) {
    ReportFileWarnings(script, scriptPath, reporter);
    const LineKind kind = ReadScriptLine(line, playRes, event, warning);
    if (!warning.empty()) reporter.ScriptWarning(scriptPath, script.lineNumber(), warning);
    if (kind == LineKind::kEvent) {
      event.line = script.lineNumber();
      events.push_back(std::move(event));
    }
  }
  return events;
}

bool OutputPathFor(const std::string& scriptPath, std::string& supPath) {
  const std::size_t slash = scriptPath.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = scriptPath.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return false;
  if (scriptPath.compare(dot, std::string::npos, ".ass") != 0) return false;
  supPath = scriptPath.substr(0, dot) + ".sup";
  return true;
}

int RunKelpie(int argc, char** argv, Console& console) {
  Reporter reporter(console);
  if (argc != 2) return reporter.StartupError(kUsage);
  const std::string scriptPath = argv[1];
  std::string supPath;
  if (!OutputPathFor(scriptPath, supPath)) return reporter.StartupError(kUsage);
  // A failed allocation, or any error nobody expected, ends the run here with
  // one line; unwinding removes the unfinished stream.
  try {
    return ConvertScript(scriptPath, supPath, nullptr, console);
  } catch (const std::bad_alloc&) {
    reporter.CantConvert(scriptPath, kNotEnoughMemory);
  } catch (const std::exception& e) {
    reporter.CantConvert(scriptPath, e.what());
  }
  return 1;
}

int ConvertScript(const std::string& scriptPath, const std::string& supPath, TextFace* face,
                  Console& console) {
  Reporter reporter(console);
  // The script first, then the font, then the output: the stream is only
  // begun (in a temporary file) once nothing else can stop the run from
  // starting, so a refused run leaves every file as it was.
  ScriptFile script;
  if (!script.Open(scriptPath)) {
    return reporter.StartupError(kCantOpenAss, scriptPath, script.openError());
  }
  std::unique_ptr<TextFace> ownFace;
  if (face == nullptr) {
    std::string fontError;
    ownFace = TextFace::OpenSubtitleFont(fontError);
    if (ownFace == nullptr) return reporter.StartupError("can't open font: " + fontError);
    face = ownFace.get();
  }
  OutputFile out;
  if (!out.Open(supPath)) return reporter.StartupError(kCantOpenSup, supPath, out.error());
  if (out.Replaces(script.info())) {
    out.Discard();
    return reporter.StartupError(kCantOpenSup, supPath, kIsTheScript);
  }

  // The whole script is read first: which pictures are made depends on every
  // line's time. Memory grows with the script's text, not its pictures. On
  // every failure the output's destructor removes the unfinished stream.
  std::vector<SubtitleEvent> events;
  try {
    events = ReadEvents(script, scriptPath, reporter);
  } catch (const std::bad_alloc&) {
    reporter.CantRead(scriptPath, kNotEnoughMemory);
    return 1;
  }
  if (script.readError() != 0) {
    reporter.CantRead(scriptPath, script.readError() == ENOMEM ? kNotEnoughMemory
                                                               : std::strerror(script.readError()));
    return 1;
  }
  if (events.empty()) reporter.ScriptWarning(scriptPath, 0, kNoDialogue);

  const Plan plan = PlanPictures(std::move(events), *face, reporter, scriptPath);
  Pipeline pipeline(plan, *face, out, reporter, ThreadCount(reporter),
                    ChosenInstructionSet(reporter));
  if (!pipeline.WriteAll(scriptPath)) return 1;
  if (!out.Close()) {
    reporter.CantWrite(out.path(), out.error());
    return 1;
  }
  reporter.Finished();
  return 0;
}

}  // namespace kelpie
