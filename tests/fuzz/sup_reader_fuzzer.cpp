// Feeds arbitrary bytes to the ".sup" reader, and the run-length data of every
// object it accepts to the decoder, as kelpie-supinfo does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pgs/sup_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<kelpie::SupDisplaySet> sets;
  kelpie::SupError error;
  kelpie::ReadSup(data, size, sets, error);
  std::vector<std::uint8_t> indexes;
  for (const kelpie::SupDisplaySet& set : sets) {
    kelpie::FormatTicks(set.pts);
    for (const kelpie::SupObject& o : set.objects) {
      // The decoder's memory follows the data, up to 16,383 pixels for every
      // three bytes. Pictures of more than 4 Mi pixels only repeat what small
      // ones test; they are left out, so that runs stay fast.
      if (std::size_t{o.width} * o.height > std::size_t{1} << 22) continue;
      kelpie::DecodeRle(o.data.data(), o.data.size(), o.width, o.height, indexes, error);
    }
  }
  return 0;
}
