// kelpie-raw2sup: writes the display sets of one raw picture through the same
// colour count, run-length encoder and display-set writer as the program,
// and prints what the program prints for that picture.
//
//   kelpie-raw2sup width height input.raw output.sup posX posY startMs endMs
//                  videoWidth videoHeight
//
// input.raw holds width x height pixels of four bytes each: red, green, blue,
// alpha (straight alpha), rows top to bottom. Exit status 0 when the display
// sets were written, 2 when the picture was left out after a colour or size
// error (the .sup is then empty), 1 for a bad command line or a file error.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "colour/quantiser.h"
#include "driver/reporter.h"
#include "pgs/display_set_writer.h"
#include "pgs/rle_encoder.h"
#include "platform/output_file.h"

namespace {

bool ParseInt(const char* text, long min, long max, std::int32_t& value) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < min || v > max) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

bool ReadFile(const char* path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::uint8_t chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

int Usage() {
  std::fprintf(stderr,
               "usage: kelpie-raw2sup width height input.raw output.sup posX posY startMs endMs "
               "videoWidth videoHeight\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kelpie;
  if (argc != 11) return Usage();
  constexpr long kMax = 0x7FFFFFFF;
  std::int32_t width, height, posX, posY, start, end, videoWidth, videoHeight;
  const struct {
    const char* text;
    long min;
    std::int32_t* value;
    const char* name;
  } numbers[] = {
      {argv[1], 0, &width, "width"},
      {argv[2], 0, &height, "height"},
      {argv[5], 0, &posX, "posX"},
      {argv[6], 0, &posY, "posY"},
      {argv[7], -kMax, &start, "startMs"},
      {argv[8], -kMax, &end, "endMs"},
      {argv[9], -kMax, &videoWidth, "videoWidth"},
      {argv[10], -kMax, &videoHeight, "videoHeight"},
  };
  for (const auto& number : numbers) {
    if (!ParseInt(number.text, number.min, kMax, *number.value)) {
      std::fprintf(stderr, "kelpie-raw2sup: %s \"%s\" is not a number from %ld to %ld\n",
                   number.name, number.text, number.min, kMax);
      return 1;
    }
  }

  std::vector<std::uint8_t> raw;
  if (!ReadFile(argv[3], raw)) {
    std::fprintf(stderr, "kelpie-raw2sup: cannot read \"%s\": %s\n", argv[3], std::strerror(errno));
    return 1;
  }
  const std::uint64_t expected =
      std::uint64_t{4} * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (raw.size() != expected) {
    std::fprintf(stderr, "kelpie-raw2sup: \"%s\" has %zu bytes, %dx%d pixels need %llu\n", argv[3],
                 raw.size(), width, height, static_cast<unsigned long long>(expected));
    return 1;
  }

  OutputFile out;
  if (!out.Open(argv[4])) {
    std::fprintf(stderr, "kelpie-raw2sup: cannot create \"%s\": %s\n", argv[4],
                 out.error().c_str());
    return 1;
  }

  Console console;
  Reporter reporter(console);
  WorkImage image;
  auto table = std::make_unique<ColourTable>();
  auto quantiser = std::make_unique<Quantiser>();
  auto rle = std::make_unique<RleBuffer>();
  std::vector<std::uint8_t> segments;

  LoadRgbaPixels(width, height, raw.data(), image);
  bool written = false;
  // The program's console lines for the picture: the learning figures when
  // it is reduced, then its colour line or the colour error, then the size
  // error if its data do not fit one object.
  const ColourCount count = CountColours(image, *table, *quantiser);
  if (count.quantised) reporter.Learning(count.learning);
  if (!count.ok) {
    reporter.ColourError();
  } else {
    reporter.Colours(image.width, image.height, count.entryCount);
    if (!EncodeRle(image, *table, *rle)) reporter.TooMuchData(rle->rleLength, start, end);
  }
  if (count.ok && FitsPlayer(*rle)) {
    const PicturePlacement placement{posX, posY, image.width, image.height, start, end};
    const pgs::VideoSize video{videoWidth, videoHeight};
    const DisplaySetStatus status = AppendDisplaySets(placement, video, *table, *rle, segments);
    if (status == DisplaySetStatus::kPictureTooLarge) {
      std::fprintf(stderr, "kelpie-raw2sup: a %dx%d picture does not fit the 16-bit size fields\n",
                   width, height);
    }
    written = status == DisplaySetStatus::kWritten;
  }
  FreePixels(image);
  out.Write(segments);
  std::fflush(stdout);
  if (!out.Close()) {
    std::fprintf(stderr, "kelpie-raw2sup: cannot write \"%s\": %s\n", argv[4], out.error().c_str());
    return 1;
  }
  return written ? 0 : 2;
}
