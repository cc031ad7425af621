// Feeds arbitrary bytes to the ".sup" reader, and the run-length data of every
// object it accepts to the decoder, as kelpie-supinfo does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pgs/sup_reader.h"

namespace {

// DecodeRle makes room for width x height indexes before it reads any code.
// Objects whose data could not fill that many pixels are left out here, so
// that the fuzzer does not stop at allocations of up to 4 GiB: every row
// ends with a two-byte code and one code of three or four bytes covers at
// most 16,383 pixels. Larger pictures only repeat what small ones test.
constexpr std::size_t kMaxPixels = std::size_t{1} << 22;

bool Plausible(const kelpie::SupObject& object) {
  const std::size_t pixels = std::size_t{object.width} * object.height;
  return pixels <= kMaxPixels && object.data.size() >= std::size_t{2} * object.height &&
         pixels <= object.data.size() / 3 * std::size_t{16383};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<kelpie::SupDisplaySet> sets;
  kelpie::SupError error;
  kelpie::ReadSup(data, size, sets, error);
  std::vector<std::uint8_t> indexes;
  for (const kelpie::SupDisplaySet& set : sets) {
    kelpie::FormatTicks(set.pts);
    for (const kelpie::SupObject& object : set.objects) {
      if (!Plausible(object)) continue;
      kelpie::DecodeRle(object.data.data(), object.data.size(), object.width, object.height,
                        indexes, error);
    }
  }
  return 0;
}
