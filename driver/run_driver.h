// The program's run: command-line check, output path, reading the script,
// grouping consecutive events with equal times, and handing each group on.
// The run owns the output file, the script, the font and the RunState (play
// resolution and the tables that every picture reuses) from start to end.
#ifndef KELPIE_DRIVER_RUN_DRIVER_H_
#define KELPIE_DRIVER_RUN_DRIVER_H_

#include <string>
#include <vector>

#include "driver/reporter.h"
#include "platform/console.h"
#include "platform/script_file.h"
#include "platform/text_face.h"
#include "render/subtitle_event.h"

namespace kelpie {

// Runs the whole conversion; returns the process exit status: 0 after a
// complete run, 1 after a start-up error (reported, then one key wait), a
// failed read or write or an unexpected error such as a failed allocation
// (reported in one line). A run that does not end with 0 leaves the ".sup"
// exactly as it was, or absent.
int RunKelpie(int argc, char** argv, Console& console);

// Converts the script at `scriptPath` into `supPath` (the part of RunKelpie
// after the command line): opens the script, the subtitle font unless
// `face` is given, then the output (refused when it is the script itself),
// and writes every group; the stream replaces `supPath` only at the end of a
// complete run. Start-up errors are reported as RunKelpie reports them.
// Returns the exit status.
// `face`, when not null, is the caller's and may be used for many runs.
int ConvertScript(const std::string& scriptPath, const std::string& supPath, TextFace* face,
                  Console& console);

// Derives the output path from the script path: the directory, the base name
// (the file name before its last '.') and ".sup". Returns false when the
// file name's extension is not exactly ".ass" (case matters).
bool OutputPathFor(const std::string& scriptPath, std::string& supPath);

// Reads every line of `script` (opened from `scriptPath`), reporting what the
// reader warns about, and returns its dialogue lines in script order with
// their line numbers. A read error stops it; script.readError() tells.
std::vector<SubtitleEvent> ReadEvents(ScriptFile& script, const std::string& scriptPath,
                                      Reporter& reporter);

}  // namespace kelpie

#endif  // KELPIE_DRIVER_RUN_DRIVER_H_
