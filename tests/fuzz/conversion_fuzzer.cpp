// Converts a small script with the whole program (encoding detection, reader,
// font rendering, shadow, colour reduction, run-length coding, writer) and
// checks that the stream it writes reads back whole: every segment well
// formed, each picture shown and then cleared, and every object's run-length
// data decoding to exactly its size.
//
// The font is opened once for the whole session; each input is written to a
// script file of this process and converted beside it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "driver/run_driver.h"
#include "pgs/sup_reader.h"
#include "platform/text_face.h"

namespace {

struct Session {
  std::unique_ptr<kelpie::TextFace> face;
  kelpie::Console console;
  std::string script_path;
  std::string sup_path;
};

Session* session = nullptr;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  std::uint8_t chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

// Every display set the program writes: a show with one object, its window,
// palette and object, then a clear with none at a time no earlier.
void CheckStream(const std::vector<std::uint8_t>& bytes) {
  std::vector<kelpie::SupDisplaySet> sets;
  kelpie::SupError error;
  if (!kelpie::ReadSup(bytes.data(), bytes.size(), sets, error)) {
    std::fprintf(stderr, "malformed stream at byte %zu: %s\n", error.offset, error.message.c_str());
    __builtin_trap();
  }
  Check(sets.size() % 2 == 0);
  std::vector<std::uint8_t> indexes;
  for (std::size_t i = 0; i < sets.size(); i += 2) {
    const kelpie::SupDisplaySet& show = sets[i];
    const kelpie::SupDisplaySet& clear = sets[i + 1];
    Check(show.composition.objects.size() == 1 && show.objects.size() == 1);
    Check(clear.composition.objects.empty() && clear.objects.empty());
    Check(show.pts <= clear.pts);
    const kelpie::SupObject& object = show.objects[0];
    if (!kelpie::DecodeRle(object.data.data(), object.data.size(), object.width, object.height,
                           indexes, error)) {
      std::fprintf(stderr, "object data at byte %zu: %s\n", object.dataOffset + error.offset,
                   error.message.c_str());
      __builtin_trap();
    }
  }
}

// Closes the font as the program does at its end, so that what fontconfig
// holds for it is not reported as leaked when the fuzzer exits.
void EndSession() {
  delete session;
  session = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  session = new Session;
  std::atexit(EndSession);
  std::string error;
  session->face = kelpie::TextFace::OpenSubtitleFont(&error);
  if (session->face == nullptr) {
    std::fprintf(stderr, "conversion_fuzzer: can't open font: %s\n", error.c_str());
    std::abort();
  }
  std::FILE* null = std::fopen("/dev/null", "w");
  if (null == nullptr) std::abort();
  session->console.out = null;
  session->console.err = null;
  session->console.waitForKey = nullptr;
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                           "/kelpie_fuzz_" + std::to_string(::getpid());
  session->script_path = base + ".ass";
  session->sup_path = base + ".sup";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!WriteFile(session->script_path, data, size)) std::abort();
  const int status = kelpie::ConvertScript(session->script_path, session->sup_path,
                                           session->face.get(), session->console);
  // Nothing in a script makes the run fail; only the files could.
  Check(status == 0);
  CheckStream(ReadFile(session->sup_path));
  ::unlink(session->script_path.c_str());
  ::unlink(session->sup_path.c_str());
  return 0;
}
