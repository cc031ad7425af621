#include "platform/text_face.h"

namespace kelpie {

// Placeholder until the FreeType face lands.
std::unique_ptr<TextFace> TextFace::OpenSubtitleFont(std::string* error) {
  if (error != nullptr) *error = "no font renderer";
  return nullptr;
}

}  // namespace kelpie
