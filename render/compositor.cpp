#include "render/compositor.h"

#include <cmath>

namespace kelpie {

namespace {

void PrintTime(Console& console, std::int32_t t) {
  console.Err("\"%01d:%02d:%02d.%03d\" ", static_cast<int>(std::trunc(t / 3600000.0)),
              static_cast<int>(std::trunc(t / 60000.0)) % 60,
              static_cast<int>(std::trunc(t / 1000.0)) % 60, t % 1000);
}

}  // namespace

// Placeholder until text rendering lands: prints the progress lines only.
void ComposeGroup(const std::vector<SubtitleEvent>& group, TextFace&, RunState&, OutputFile&,
                  Console& console) {
  console.Err("<subtitle starttime=");
  PrintTime(console, group.front().start);
  console.Err("endtime=");
  PrintTime(console, group.front().end);
  console.Err("\n");
  console.Err("\toffset=\"%d,%d\" />\n", 0, 0);
}

}  // namespace kelpie
