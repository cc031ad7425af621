// Reduces a picture to at most 256 RGBA colours with a one-dimensional
// self-organising network of 256 neurons trained on its pixels.
#ifndef KELPIE_COLOUR_QUANTISER_H_
#define KELPIE_COLOUR_QUANTISER_H_

#include "colour/pixel_buffer.h"
#include "platform/console.h"

namespace kelpie {

// All of the network's state; set afresh for every picture. The run owns one.
struct Quantiser {
  // Filled in with the network's tables.
};

// Rewrites every pixel of `image` with one of 256 palette colours and prints
// the two learning lines on the console's error stream.
void QuantiseImage(WorkImage& image, Quantiser& quantiser, Console& console);

}  // namespace kelpie

#endif  // KELPIE_COLOUR_QUANTISER_H_
