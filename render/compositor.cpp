#include "render/compositor.h"

#include <algorithm>
#include <cmath>

#include "render/shadow.h"

namespace kelpie {

namespace {

// Every text picture starts cleared to this in the single-event case.
constexpr Argb kTransparentWhite = 0x00FFFFFF;

// trunc() of a measure, in 64 bits. Measures are never near the limit; a
// value beyond it (or not a number) becomes the limit (or 0), which every
// size check then refuses.
std::int64_t Trunc(float v) {
  constexpr float kLimit = 1099511627776.0f;  // 2^40
  if (std::isnan(v)) return 0;
  if (v >= kLimit) return static_cast<std::int64_t>(kLimit);
  if (v <= -kLimit) return -static_cast<std::int64_t>(kLimit);
  return static_cast<std::int64_t>(v);  // conversion truncates toward zero
}

std::int64_t RaiseToZero(std::int64_t v) {
  return std::max<std::int64_t>(v, 0);
}

// The text box of one event on the screen, in script pixels.
struct PlacedText {
  std::int64_t left = 0;
  std::int64_t top = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};

PlacedText Place(const SubtitleEvent& event, const TextBox& box) {
  PlacedText text;
  text.width = Trunc(box.width);
  text.height = Trunc(box.height);
  text.left = event.x - Trunc(box.width / 2);
  text.top = event.y - text.height;
  return text;
}

bool FitsStream(const GroupPicture& p) {
  return p.width <= kMaxPictureField && p.height <= kMaxPictureField &&
         p.posX <= kMaxPictureField && p.posY <= kMaxPictureField &&
         p.width * p.height * 4 <= kMaxCanvasBytes;
}

// Sets everything of `result` but its pixels.
void Describe(GroupPicture::Kind kind, std::int64_t posX, std::int64_t posY, std::int64_t width,
              std::int64_t height, GroupPicture& result) {
  result.kind = kind;
  result.posX = posX;
  result.posY = posY;
  result.width = width;
  result.height = height;
}

void RenderSingle(const SubtitleEvent& event, TextFace& face, RenderScratch& scratch,
                  GroupPicture& result) {
  const TextBox box = face.Measure(event.text);
  const std::int64_t width = Trunc(box.width);
  const std::int64_t height = Trunc(box.height);
  Describe(GroupPicture::Kind::kPicture, RaiseToZero(event.x + Trunc(-box.width / 2)),
           RaiseToZero(event.y - height), width, height, result);
  if (width <= 0 || height <= 0) {
    result.kind = GroupPicture::Kind::kNothing;
    return;
  }
  if (!FitsStream(result)) {
    result.kind = GroupPicture::Kind::kTooLarge;
    return;
  }
  result.picture.Reset(static_cast<int>(width), static_cast<int>(height), kTransparentWhite);
  face.Draw(event.text, event.colour, result.picture);
  ApplyShadow(result.picture, scratch.shadow);
}

void RenderSeveral(const std::vector<SubtitleEvent>& group, TextFace& face, const PlayRes& playRes,
                   RenderScratch& scratch, GroupPicture& result) {
  // The canvas box starts from the screen's far corner and the origin, so it
  // always reaches to the left of x = playRes.x and to the right of x = 0
  // (likewise vertically), wherever the texts are.
  std::int64_t minX = playRes.x;
  std::int64_t minY = playRes.y;
  std::int64_t maxX = 0;
  std::int64_t maxY = 0;
  std::vector<PlacedText> texts;
  texts.reserve(group.size());
  bool any = false;
  for (const SubtitleEvent& event : group) {
    const PlacedText text = Place(event, face.Measure(event.text));
    texts.push_back(text);
    // Repair: a text without a visible glyph (often only override tags)
    // would otherwise stretch the canvas to its anchor.
    if (text.empty()) continue;
    any = true;
    minX = std::min(minX, text.left);
    minY = std::min(minY, text.top);
    maxX = std::max(maxX, text.left + text.width);
    maxY = std::max(maxY, text.top + text.height);
  }

  if (!any) {
    Describe(GroupPicture::Kind::kNothing, 0, 0, 0, 0, result);
    return;
  }
  Describe(GroupPicture::Kind::kPicture, RaiseToZero(minX), RaiseToZero(minY), maxX - minX,
           maxY - minY, result);
  if (!FitsStream(result)) {
    result.kind = GroupPicture::Kind::kTooLarge;
    return;
  }
  // Neither the canvas nor the text pictures are cleared: they start
  // transparent black.
  result.picture.Reset(static_cast<int>(result.width), static_cast<int>(result.height), 0);
  for (std::size_t i = 0; i < group.size(); ++i) {
    const PlacedText& text = texts[i];
    if (text.empty()) continue;
    ArgbBitmap& picture = scratch.text;
    picture.Reset(static_cast<int>(text.width), static_cast<int>(text.height), 0);
    face.Draw(group[i].text, group[i].colour, picture);
    ApplyShadow(picture, scratch.shadow);
    // Every box lies inside the canvas, so both offsets fit its 16-bit size.
    result.picture.DrawOver(picture, static_cast<int>(text.left - minX),
                            static_cast<int>(text.top - minY));
  }
}

}  // namespace

void RenderGroup(const std::vector<SubtitleEvent>& group, TextFace& face, const PlayRes& playRes,
                 RenderScratch& scratch, GroupPicture& result) {
  if (group.size() == 1) {
    RenderSingle(group.front(), face, scratch, result);
  } else {
    RenderSeveral(group, face, playRes, scratch, result);
  }
}

GroupPicture RenderGroup(const std::vector<SubtitleEvent>& group, TextFace& face,
                         const PlayRes& playRes) {
  RenderScratch scratch;
  GroupPicture result;
  RenderGroup(group, face, playRes, scratch, result);
  return result;
}

}  // namespace kelpie
