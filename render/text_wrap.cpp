#include "render/text_wrap.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kelpie {

namespace {

// The boundaries (byte offsets into `text`, ascending, the last one its
// size) that an ICU break iterator of `type` finds: line-break
// opportunities or grapheme cluster boundaries. On any ICU failure only the
// end of the text.
std::vector<std::size_t> Boundaries(std::string_view text, UBreakIteratorType type) {
  std::vector<std::size_t> at;
  UErrorCode status = U_ZERO_ERROR;
  UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  UBreakIterator* breaks = ubrk_open(type, "", nullptr, 0, &status);
  if (U_SUCCESS(status)) ubrk_setUText(breaks, utext, &status);
  if (U_SUCCESS(status)) {
    // Over UTF-8 text the iterator's indexes are byte offsets.
    for (int32_t p = ubrk_next(breaks); p != UBRK_DONE; p = ubrk_next(breaks)) {
      at.push_back(static_cast<std::size_t>(p));
    }
  }
  ubrk_close(breaks);
  utext_close(utext);
  if (at.empty() || at.back() != text.size()) at.push_back(text.size());
  return at;
}

std::string_view TrimEnd(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool Fits(std::string_view line, TextFace& face, std::int64_t maxWidth) {
  return static_cast<std::int64_t>(std::trunc(face.Measure(line).width)) <= maxWidth;
}

// Of the boundaries `ends` (ascending offsets into `line`), the last after
// `begin` at which line[begin, end) still fits; `begin` when none does.
// Widths grow with the text, so the search stops at the first that does not.
std::size_t LongestFit(std::string_view line, std::size_t begin,
                       const std::vector<std::size_t>& ends, TextFace& face,
                       std::int64_t maxWidth) {
  std::size_t best = begin;
  for (auto it = std::upper_bound(ends.begin(), ends.end(), begin); it != ends.end(); ++it) {
    if (!Fits(TrimEnd(line.substr(begin, *it - begin)), face, maxWidth)) break;
    best = *it;
  }
  return best;
}

void WrapLine(std::string_view line, TextFace& face, std::int64_t maxWidth, std::string& out) {
  if (Fits(line, face, maxWidth)) {
    out.append(line);
    return;
  }
  const std::vector<std::size_t> opportunities = Boundaries(line, UBRK_LINE);
  std::vector<std::size_t> clusters;  // found only when needed
  std::size_t begin = 0;
  while (begin < line.size()) {
    if (begin > 0) out.push_back('\n');
    std::size_t end = LongestFit(line, begin, opportunities, face, maxWidth);
    if (end == begin) {
      // Not even the first piece fits: break inside it, between clusters,
      // and take at least one.
      if (clusters.empty()) clusters = Boundaries(line, UBRK_CHARACTER);
      end = LongestFit(line, begin, clusters, face, maxWidth);
      if (end == begin) end = *std::upper_bound(clusters.begin(), clusters.end(), begin);
    }
    out.append(TrimEnd(line.substr(begin, end - begin)));
    begin = end;
    while (begin < line.size() && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
  }
}

}  // namespace

std::string WrapText(std::string_view text, TextFace& face, std::int64_t maxWidth) {
  std::string out;
  out.reserve(text.size() + 8);
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = text.find('\n', begin);
    WrapLine(text.substr(begin, end == std::string_view::npos ? end : end - begin), face, maxWidth,
             out);
    if (end == std::string_view::npos) break;
    out.push_back('\n');
    begin = end + 1;
  }
  return out;
}

}  // namespace kelpie
