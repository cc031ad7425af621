// Converts a small script with the whole program (encoding detection, reader,
// font rendering, shadow, colour reduction, run-length coding, writer) and
// checks that the stream it writes reads back whole: every segment well
// formed, each picture shown and then cleared, and every object's run-length
// data decoding to exactly its size.
//
// The font is opened once for the whole session; each input is written to a
// script file of this process and converted beside it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/run_driver.h"
#include "pgs/sup_reader.h"
#include "platform/text_face.h"
#include "tests/file_helpers.h"

namespace {

using namespace kelpie;

struct Session {
  std::string fontError;
  std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(fontError);
  std::FILE* null = std::fopen("/dev/null", "w");
  Console console{.out = null, .err = null, .waitForKey = nullptr};
  // This process's files, side by side in the temporary folder.
  std::string base =
      std::filesystem::temp_directory_path() / ("kelpie_fuzz_" + std::to_string(::getpid()));
  std::string script = base + ".ass";
  std::string sup = base + ".sup";
};

Session* session = nullptr;

// Stops at a broken invariant, saying what broke; for a failed read, `error`
// gives the offset and the reason.
void Check(bool ok, const std::string& what, const SupError& error = {}) {
  if (ok) return;
  std::fprintf(stderr, "%s [%zu: %s]\n", what.c_str(), error.offset, error.message.c_str());
  __builtin_trap();
}

// Every display set the program writes: a show with one or two objects, each
// in the composition, then a clear with none at a time no earlier.
void CheckStream(const std::string& text) {
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
  std::vector<SupDisplaySet> sets;
  SupError error;
  Check(ReadSup(bytes.data(), bytes.size(), sets, error), "malformed stream at byte", error);
  Check(sets.size() % 2 == 0, "a show without its clear");
  std::vector<std::uint8_t> indexes;
  for (std::size_t i = 0; i < sets.size(); i += 2) {
    const SupDisplaySet& show = sets[i];
    const SupDisplaySet& clear = sets[i + 1];
    const std::size_t n = show.objects.size();
    Check((n == 1 || n == 2) && show.composition.objects.size() == n, "objects of a show");
    Check(clear.objects.empty() && clear.composition.objects.empty(), "objects in a clear");
    Check(show.pts <= clear.pts, "a clear before its show");
    for (const SupObject& o : show.objects) {
      Check(DecodeRle(o.data.data(), o.data.size(), o.width, o.height, indexes, error),
            "object data from byte " + std::to_string(o.dataOffset) + ", at its byte", error);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  session = new Session;
  // Closes the font as the program does at its end, so that what fontconfig
  // holds for it is not reported as leaked when the fuzzer exits.
  std::atexit([] { delete session; });
  Check(session->face != nullptr, "conversion_fuzzer: can't open font: " + session->fontError);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Session& s = *session;
  kelpie::testing::WriteFile(s.script, std::string(reinterpret_cast<const char*>(data), size));
  // Nothing in a script makes the run fail; only the files could.
  Check(ConvertScript(s.script, s.sup, s.face.get(), s.console) == 0, "the conversion failed");
  CheckStream(kelpie::testing::ReadFile(s.sup));
  ::unlink(s.script.c_str());
  ::unlink(s.sup.c_str());
  return 0;
}
