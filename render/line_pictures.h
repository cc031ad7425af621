// The pictures of the lines on screen. A line's picture (text and shadow) is
// drawn once and kept while the line is visible, however many stretches it
// spans: a sign up for ten seconds over many short lines is drawn once. The
// kept pictures live within a byte budget; past it the least recently used
// ones are dropped and drawn again when needed. Pictures are shared: one
// still in use by a picture being made lives on after it is dropped here.
#ifndef KELPIE_RENDER_LINE_PICTURES_H_
#define KELPIE_RENDER_LINE_PICTURES_H_

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "render/compositor.h"

namespace kelpie {

class LinePictures {
 public:
  explicit LinePictures(std::int64_t budgetBytes) : budget_(budgetBytes) {}

  // Starts the pictures of one stretch: those found or kept from now until
  // the next call are not dropped before it, whatever the budget.
  void BeginStretch() { ++stretch_; }

  // The kept picture of `line`, or null.
  std::shared_ptr<LinePicture> Find(int line);
  // Keeps `picture` as the picture of `line`, dropping the least recently
  // used pictures of earlier stretches while over budget.
  void Keep(int line, std::shared_ptr<LinePicture> picture);
  // Drops the picture of `line` (it left the screen).
  void Drop(int line);

  std::int64_t bytes() const { return bytes_; }

 private:
  struct Entry {
    std::shared_ptr<LinePicture> picture;
    std::int64_t bytes = 0;     // as counted when kept
    std::uint64_t lastUse = 0;  // stretch number
  };

  std::int64_t budget_;
  std::int64_t bytes_ = 0;
  std::uint64_t stretch_ = 0;
  std::unordered_map<int, Entry> kept_;
};

}  // namespace kelpie

#endif  // KELPIE_RENDER_LINE_PICTURES_H_
