// The drawn pictures of the lines on screen. A line's picture (text and
// shadow) is drawn once and kept while the line is visible, however many
// stretches it spans: a sign up for ten seconds over many short lines is
// drawn once. The pictures live within a byte budget; past it the least
// recently used ones are dropped and drawn again when needed. Bitmaps of
// dropped pictures are kept for reuse, so that lines of similar size do not
// each take fresh memory.
#ifndef KELPIE_RENDER_LINE_PICTURES_H_
#define KELPIE_RENDER_LINE_PICTURES_H_

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/bitmap.h"

namespace kelpie {

class LinePictures {
 public:
  explicit LinePictures(std::int64_t budgetBytes) : budget_(budgetBytes) {}

  // Starts the pictures of one stretch: those found or kept from now until
  // the next call are not dropped before it, whatever the budget.
  void BeginStretch() { ++stretch_; }

  // The kept picture of `line`, or null.
  const ArgbBitmap* Find(int line);
  // A bitmap to draw the picture of `line` into, then Keep(line). Its
  // contents mean nothing.
  ArgbBitmap& Canvas();
  // Keeps what was drawn into Canvas() as the picture of `line`, dropping
  // the least recently used pictures of earlier stretches while over budget.
  const ArgbBitmap& Keep(int line);
  // Drops the picture of `line` (it left the screen).
  void Drop(int line);

  std::int64_t bytes() const { return bytes_; }

 private:
  struct Entry {
    ArgbBitmap picture;
    std::uint64_t lastUse = 0;  // stretch number
  };
  static std::int64_t BytesOf(const ArgbBitmap& b) {
    return static_cast<std::int64_t>(b.memoryBytes());
  }
  void Recycle(ArgbBitmap&& picture);

  std::int64_t budget_;
  std::int64_t bytes_ = 0;
  std::uint64_t stretch_ = 0;
  std::unordered_map<int, Entry> kept_;
  std::vector<ArgbBitmap> spare_;  // bitmaps of dropped pictures
  ArgbBitmap canvas_;
};

}  // namespace kelpie

#endif  // KELPIE_RENDER_LINE_PICTURES_H_
