#include "render/compositor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

#include "render/shadow.h"
#include "render/text_wrap.h"

namespace kelpie {

namespace {

// trunc() of a measure, in 64 bits. Measures are never near the limit; a
// value beyond it (or not a number) becomes the limit (or 0).
std::int64_t Trunc(float v) {
  constexpr float kLimit = 1099511627776.0f;  // 2^40
  if (std::isnan(v)) return 0;
  if (v >= kLimit) return static_cast<std::int64_t>(kLimit);
  if (v <= -kLimit) return -static_cast<std::int64_t>(kLimit);
  return static_cast<std::int64_t>(v);  // conversion truncates toward zero
}

// The number of lines of a text (lines are separated by line feeds; one at
// the very end starts no line).
std::int64_t LineCount(std::string_view text) {
  std::int64_t n = 1 + std::count(text.begin(), text.end(), '\n');
  if (!text.empty() && text.back() == '\n') --n;
  return n;
}

}  // namespace

MeasuredLine MeasureLine(SubtitleEvent& event, TextFace& face) {
  TextBox box = face.Measure(event.text);
  if (Trunc(box.width) > event.playRes.x) {
    event.text = WrapText(event.text, face, event.playRes.x);
    box = face.Measure(event.text);
  }
  // Keep the lines the frame shows, plus one whose shadow may reach into it.
  const std::int64_t lines = LineCount(event.text);
  if (lines > 1 && Trunc(box.height) > event.playRes.y) {
    const double lineHeight = static_cast<double>(box.height) / static_cast<double>(lines);
    const std::int64_t keep =
        static_cast<std::int64_t>(std::ceil(event.playRes.y / lineHeight)) + 1;
    if (keep < lines) {
      std::size_t at = 0;
      for (std::int64_t dropped = 0; dropped < lines - keep; ++dropped) {
        at = event.text.find('\n', at) + 1;
      }
      event.text.erase(0, at);
      box = face.Measure(event.text);
    }
  }
  MeasuredLine measured;
  measured.width = Trunc(box.width);
  measured.height = Trunc(box.height);
  if (measured.empty()) return MeasuredLine{};
  measured.left = event.x - Trunc(box.width / 2);
  measured.top = event.y - measured.height;
  const TextOverhang out = face.Overhang(event.text);
  measured.textX = out.left;
  measured.textY = out.above;
  measured.left -= out.left;
  measured.top -= out.above;
  measured.width += out.left + out.right;
  measured.height += out.above + out.below;
  return measured;
}

void LayOutLineText(const SubtitleEvent& event, const MeasuredLine& measured, const Placement& box,
                    TextFace& face, LinePicture& line) {
  line.box = box;
  line.width = static_cast<int>(measured.width);
  line.height = static_cast<int>(measured.height);
  line.drawing = face.Prepare(event.text, event.colour, measured.textX, measured.textY);
}

void FinishLine(LinePicture& line, ShadowScratch& scratch, ShadowCache* cache,
                ShadowCacheScratch* cells) {
  std::call_once(line.finished, [&] {
    // Text drawn in one colour over transparent pixels only (no glyphs
    // overlapped) has that colour in every visible pixel, which the shadow
    // need not check.
    const std::optional<Argb> ink = line.drawing.DrawOnClear(line.text, line.width, line.height)
                                        ? std::optional<Argb>(line.drawing.colour())
                                        : std::nullopt;
    if (cache != nullptr && cells != nullptr) {
      cache->Apply(line.text, line.drawing, scratch, *cells, ink);
    } else {
      ApplyShadow(line.text, scratch, ink);
    }
    line.drawing = TextDrawing();
    const Placement& box = line.box;
    if (!box.cut) return;
    line.cut.Reset(box.width, box.height, 0);
    for (int y = 0; y < box.height; ++y) {
      const Argb* from = line.text.Row(box.cropTop + y) + box.cropLeft;
      std::copy(from, from + box.width, line.cut.Row(y));
    }
  });
}

Placement SpanOf(std::span<const Placement> boxes) {
  std::int32_t left = std::numeric_limits<std::int32_t>::max();
  std::int32_t top = left;
  std::int32_t right = std::numeric_limits<std::int32_t>::min();
  std::int32_t bottom = right;
  for (const Placement& b : boxes) {
    left = std::min(left, b.left);
    top = std::min(top, b.top);
    right = std::max(right, b.left + b.width);
    bottom = std::max(bottom, b.top + b.height);
  }
  Placement span;
  span.left = left;
  span.top = top;
  span.width = right - left;
  span.height = bottom - top;
  return span;
}

void ComposePicture(std::span<const PlacedPicture> lines, const Placement& span, ArgbBitmap& canvas,
                    std::vector<std::uint8_t>& rowUsed) {
  // A sign at the top and dialogue at the bottom leave most rows empty:
  // only the rows under some box are written. rowUsed counts the boxes over
  // each row, 2 standing for two or more.
  canvas.Resize(span.width, span.height);
  rowUsed.assign(static_cast<std::size_t>(span.height), 0);
  for (const PlacedPicture& line : lines) {
    const int top = line.box.top - span.top;
    for (int y = top; y < top + line.box.height; ++y) {
      rowUsed[y] = static_cast<std::uint8_t>(std::min(rowUsed[y] + 1, 2));
    }
  }
  // Rows under several boxes are cleared and drawn over box by box.
  for (int y = 0; y < span.height; ++y) {
    if (rowUsed[y] > 1) std::fill_n(canvas.Row(y), span.width, Argb{0});
  }
  for (const PlacedPicture& line : lines) {
    const int left = line.box.left - span.left;
    const int top = line.box.top - span.top;
    const int width = line.picture->width();
    for (int y = top; y < top + line.box.height; ++y) {
      if (rowUsed[y] > 1) {
        canvas.DrawRowOver(*line.picture, left, top, y);
        continue;
      }
      // A row of this box alone: transparent around the box, and the box's
      // pixels as drawn over transparent ones, where a pixel with alpha 0
      // leaves the transparent black.
      Argb* out = canvas.Row(y);
      const Argb* in = line.picture->Row(y - top);
      std::fill_n(out, left, Argb{0});
      for (int x = 0; x < width; ++x) out[left + x] = AlphaOf(in[x]) != 0 ? in[x] : 0;
      std::fill(out + left + width, out + span.width, Argb{0});
    }
  }
}

void ClearUnusedRows(const std::vector<std::uint8_t>& rowUsed, ArgbBitmap& canvas) {
  for (int y = 0; y < canvas.height(); ++y) {
    if (rowUsed[y] == 0) std::fill_n(canvas.Row(y), canvas.width(), Argb{0});
  }
}

std::vector<int> SplitTopAndBottom(std::span<const Placement> boxes) {
  std::vector<std::size_t> byTop(boxes.size());
  std::iota(byTop.begin(), byTop.end(), 0);
  std::sort(byTop.begin(), byTop.end(),
            [&boxes](std::size_t a, std::size_t b) { return boxes[a].top < boxes[b].top; });
  std::int64_t bestPixels = std::numeric_limits<std::int64_t>::max();
  std::size_t bestCount = 0;  // boxes in the top group
  std::int32_t bottomOfTop = std::numeric_limits<std::int32_t>::min();
  std::vector<Placement> top;
  for (std::size_t k = 1; k < byTop.size(); ++k) {
    const Placement& last = boxes[byTop[k - 1]];
    bottomOfTop = std::max(bottomOfTop, last.top + last.height);
    top.push_back(last);
    if (bottomOfTop > boxes[byTop[k]].top) continue;  // they share a row
    std::vector<Placement> rest;
    for (std::size_t j = k; j < byTop.size(); ++j) rest.push_back(boxes[byTop[j]]);
    const Placement a = SpanOf(top);
    const Placement b = SpanOf(rest);
    const std::int64_t pixels = std::int64_t{a.width} * a.height + std::int64_t{b.width} * b.height;
    if (pixels < bestPixels) {
      bestPixels = pixels;
      bestCount = k;
    }
  }
  if (bestCount == 0) return {};
  std::vector<int> group(boxes.size(), 1);
  for (std::size_t k = 0; k < bestCount; ++k) group[byTop[k]] = 0;
  return group;
}

}  // namespace kelpie
