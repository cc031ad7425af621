#include "render/line_pictures.h"

#include <utility>

namespace kelpie {

namespace {
// A few spare bitmaps of at most a common line's size.
constexpr std::size_t kMaxSpare = 4;
constexpr std::size_t kMaxSpareBytes = std::size_t{2} << 20;
}  // namespace

const ArgbBitmap* LinePictures::Find(int line) {
  auto it = kept_.find(line);
  if (it == kept_.end()) return nullptr;
  it->second.lastUse = stretch_;
  return &it->second.picture;
}

ArgbBitmap& LinePictures::Canvas() {
  if (!spare_.empty()) {
    canvas_ = std::move(spare_.back());
    spare_.pop_back();
  }
  return canvas_;
}

const ArgbBitmap& LinePictures::Keep(int line) {
  bytes_ += BytesOf(canvas_);
  while (bytes_ > budget_) {
    // The least recently used picture of an earlier stretch.
    auto oldest = kept_.end();
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
      if (it->second.lastUse < stretch_ &&
          (oldest == kept_.end() || it->second.lastUse < oldest->second.lastUse)) {
        oldest = it;
      }
    }
    if (oldest == kept_.end()) break;
    Drop(oldest->first);
  }
  Entry& entry = kept_[line];
  entry.picture = std::move(canvas_);
  entry.lastUse = stretch_;
  canvas_ = ArgbBitmap();
  return entry.picture;
}

void LinePictures::Drop(int line) {
  auto it = kept_.find(line);
  if (it == kept_.end()) return;
  bytes_ -= BytesOf(it->second.picture);
  Recycle(std::move(it->second.picture));
  kept_.erase(it);
}

void LinePictures::Recycle(ArgbBitmap&& picture) {
  if (spare_.size() < kMaxSpare && picture.memoryBytes() <= kMaxSpareBytes) {
    spare_.push_back(std::move(picture));
  }
}

}  // namespace kelpie
