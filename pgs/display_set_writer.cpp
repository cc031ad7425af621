#include "pgs/display_set_writer.h"

namespace kelpie {

// Placeholder until the writer lands.
void AppendDisplaySets(const PicturePlacement&, const PlayRes&, const ColourTable&,
                       const RleBuffer&, std::vector<std::uint8_t>&) {}

}  // namespace kelpie
