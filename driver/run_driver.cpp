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

// A start-up error: one line on standard error, then a key wait (only when a
// person is at the terminal). Returns the exit status.
int StartupError(Console& console, const char* message) {
  console.Err("%s\n", message);
  std::fflush(console.err);
  console.WaitForKey();
  return 1;
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

  // The output is created before the script is opened, so a script that cannot
  // be opened leaves an empty ".sup" behind (kept as the program always did).
  OutputFile out;
  if (!out.Open(sup_path)) return StartupError(console, kCantOpenSup);
  ScriptFile script;
  if (!script.Open(script_path)) return StartupError(console, kCantOpenAss);
  std::string font_error;
  std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(&font_error);
  if (face == nullptr) {
    const std::string message = "can't open font: " + font_error;
    return StartupError(console, message.c_str());
  }

  // Large fixed tables (colour table, quantiser network, run-length buffer).
  auto state = std::make_unique<RunState>();
  EventGrouper grouper;
  std::vector<SubtitleEvent> group;
  SubtitleEvent event;
  std::string line;
  std::string warning;
  while (!out.failed() && script.NextLine(&line)) {
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
