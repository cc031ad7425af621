#include "render/line_pictures.h"

#include <utility>

namespace kelpie {

std::shared_ptr<LinePicture> LinePictures::Find(int line) {
  auto it = kept_.find(line);
  if (it == kept_.end()) return nullptr;
  it->second.lastUse = stretch_;
  return it->second.picture;
}

void LinePictures::Keep(int line, std::shared_ptr<LinePicture> picture) {
  // Counted as finished, drawn or not yet: it will be while kept.
  const std::int64_t bytes = picture->finishedBytes();
  bytes_ += bytes;
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
  kept_[line] = Entry{std::move(picture), bytes, stretch_};
}

void LinePictures::Drop(int line) {
  auto it = kept_.find(line);
  if (it == kept_.end()) return;
  bytes_ -= it->second.bytes;
  kept_.erase(it);
}

}  // namespace kelpie
