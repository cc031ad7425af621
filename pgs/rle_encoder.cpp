#include "pgs/rle_encoder.h"

namespace kelpie {

// Placeholder until the encoder lands.
bool EncodeRle(const WorkImage&, const ColourTable&, RleBuffer& rle, Console&) {
  rle.rleLength = 0;
  return true;
}

}  // namespace kelpie
