#include "colour/colour_table.h"

namespace kelpie {

// Placeholder until the colour count lands.
ColourCount CountColours(WorkImage&, ColourTable& table, Quantiser&, std::int32_t&, Console&) {
  table = ColourTable{};
  return ColourCount{true, 0};
}

}  // namespace kelpie
