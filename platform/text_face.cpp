#include "platform/text_face.h"

namespace kelpie {

namespace {

// Placeholder until the FreeType face lands: every text measures 0 x 0.
class EmptyFace : public TextFace {
 public:
  TextBox Measure(std::string_view) override { return {}; }
  void Draw(std::string_view, Argb, ArgbBitmap&) override {}
};

}  // namespace

std::unique_ptr<TextFace> TextFace::OpenSubtitleFont(std::string*) {
  return std::make_unique<EmptyFace>();
}

}  // namespace kelpie
