#include "driver/run_driver.h"

#include <cstring>
#include <memory>
#include <vector>

#include "driver/event_grouper.h"
#include "driver/script_reader.h"
#include "platform/script_file.h"
#include "platform/text_face.h"
#include "render/compositor.h"

namespace kelpie {

namespace {

constexpr char kUsage[] = "usage: kelpie.exe *.ass";
constexpr char kCantOpenSup[] = "can't open *.sup";
constexpr char kCantOpenAss[] = "can't open *.ass";

// A start-up error: one line on standard error, optionally a second one that
// names the file and the system's reason, then a key wait (only when a person
// is at the terminal). Returns the exit status.
int StartupError(Console& console, const char* message, const std::string& path = {},
                 const std::string& reason = {}) {
  console.Err("%s\n", message);
  if (!reason.empty()) console.Err("%s: %s\n", path.c_str(), reason.c_str());
  std::fflush(console.err);
  console.WaitForKey();
  return 1;
}

// Prints what the script file found about its encoding: "<path>: message" for
// the file as a whole, "<path>:<line>: message" for one line.
void PrintFileWarnings(ScriptFile& script, const std::string& script_path, Console& console) {
  for (const ScriptWarning& w : script.TakeWarnings()) {
    if (w.line == 0) {
      console.Err("%s: %s\n", script_path.c_str(), w.message.c_str());
    } else {
      console.Err("%s:%ld: %s\n", script_path.c_str(), w.line, w.message.c_str());
    }
  }
}

}  // namespace

bool OutputPathFor(const std::string& script_path, std::string* sup_path) {
  const std::size_t slash = script_path.rfind('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = script_path.rfind('.');
  if (dot == std::string::npos || dot < name_start) return false;
  if (script_path.compare(dot, std::string::npos, ".ass") != 0) return false;
  *sup_path = script_path.substr(0, dot) + ".sup";
  return true;
}

bool CloseOutput(OutputFile& out, Console& console) {
  if (out.Close()) return true;
  console.Err("can't write %s: %s\n", out.path().c_str(), out.error().c_str());
  out.Discard();
  return false;
}

int RunKelpie(int argc, char** argv, Console& console) {
  if (argc != 2) return StartupError(console, kUsage);
  const std::string script_path = argv[1];
  std::string sup_path;
  if (!OutputPathFor(script_path, &sup_path)) return StartupError(console, kUsage);
  return ConvertScript(script_path, sup_path, nullptr, console);
}

int ConvertScript(const std::string& script_path, const std::string& sup_path, TextFace* face,
                  Console& console) {
  // The output is created before the script is opened, so a script that cannot
  // be opened leaves an empty ".sup" behind (kept as the program always did).
  OutputFile out;
  if (!out.Open(sup_path)) return StartupError(console, kCantOpenSup, sup_path, out.error());
  ScriptFile script;
  if (!script.Open(script_path)) {
    return StartupError(console, kCantOpenAss, script_path, script.open_error());
  }
  std::unique_ptr<TextFace> own_face;
  if (face == nullptr) {
    std::string font_error;
    own_face = TextFace::OpenSubtitleFont(&font_error);
    if (own_face == nullptr) {
      const std::string message = "can't open font: " + font_error;
      return StartupError(console, message.c_str());
    }
    face = own_face.get();
  }

  // Large fixed tables (colour table, quantiser network, run-length buffer).
  auto state = std::make_unique<RunState>();
  EventGrouper grouper;
  std::vector<SubtitleEvent> group;
  SubtitleEvent event;
  std::string line;
  std::string warning;
  PrintFileWarnings(script, script_path, console);
  while (!out.failed() && script.NextLine(&line)) {
    PrintFileWarnings(script, script_path, console);
    const LineKind kind = ReadScriptLine(line, state->playRes, &event, &warning);
    if (!warning.empty()) {
      console.Err("%s:%ld: %s\n", script_path.c_str(), script.line_number(), warning.c_str());
    }
    if (kind == LineKind::kEvent && grouper.Add(std::move(event), &group)) {
      ComposeGroup(group, *face, *state, out, console);
    }
  }
  // The last group; a script without dialogue writes an empty ".sup".
  if (!out.failed() && grouper.Finish(&group)) ComposeGroup(group, *face, *state, out, console);

  if (script.read_error() != 0) {
    console.Err("can't read %s: %s\n", script_path.c_str(), std::strerror(script.read_error()));
    out.Discard();
    return 1;
  }
  if (!CloseOutput(out, console)) return 1;
  console.Err("finished\n");
  return 0;
}

}  // namespace kelpie
