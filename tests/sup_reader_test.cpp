#include "pgs/sup_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "pgs/display_set_writer.h"

namespace kelpie {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The 3 x 2 picture 0 0 255 / 1 255 0 at (100, 200) in two colours, shown
// from 1 s to 2 s and from 3 s to 4 s. Each showing takes 192 bytes: the
// show composition at 0, its window at 32, palette at 55, object at 80 and
// end at 119; the clear composition at 132.
Bytes TwoPictures() {
  static const std::uint8_t kData[] = {0x00, 0x02, 0x00, 0x81, 0xFF, 0x00, 0x00, 0x01,
                                       0x00, 0x81, 0xFF, 0x00, 0x01, 0x00, 0x00};
  const ColourTable table{.entryCount = 2};
  const PictureObject object{100, 200, 3, 2, kData, 15};
  Bytes out;
  for (int start : {1000, 3000})
    AppendDisplaySets(start, start + 1000, {1920, 1080}, table, std::span(&object, 1), out);
  return out;
}

// What the reader says of `stream` cut to its first `size` bytes: "offset:
// message", or "ok"; `sets` gets the display sets it read.
std::string Read(const Bytes& stream, std::size_t size, std::vector<SupDisplaySet>& sets) {
  SupError error;
  if (ReadSup(stream.data(), size, sets, error)) return "ok";
  return std::to_string(error.offset) + ": " + error.message;
}

// Each cut of the stream reads the display sets completed before it. A cut
// between display sets is no error; any other names the segment it falls
// in, and a cut between two segments of one set says the set has no end.
TEST(SupReaderTest, WholeStreamAndEveryTruncation) {
  const Bytes stream = TwoPictures();
  std::vector<SupDisplaySet> full, sets;
  ASSERT_EQ(Read(stream, stream.size(), full), "ok");
  EXPECT_EQ(std::tuple(FormatTicks(full.at(2).pts), FormatTicks(0xFFFFFFFF)),
            std::tuple("0:00:03.003", "13:15:21.858"));
  for (std::size_t n = 0; n < stream.size(); ++n) {
    // Display sets ended by n, whether n is where one starts, the segment n falls in.
    std::size_t complete = 0, betweenSets = 0, segment = 0;
    for (const SupDisplaySet& set : full) {
      complete += set.offset > 0 && set.offset <= n;
      betweenSets += set.offset == n;
      for (const SupSegment& s : set.segments) segment = s.offset <= n ? s.offset : segment;
    }
    const std::string problem = Read(stream, n, sets);
    const std::string where = std::to_string(segment) + ": ";
    EXPECT_EQ(sets.size(), complete) << n;
    EXPECT_TRUE(betweenSets
                    ? problem == "ok"
                    : problem.starts_with(where + (segment == n ? "stream ends inside" : "")))
        << n << ": " << problem;
  }
}

TEST(SupReaderTest, MalformedSegmentsAndRunLengthData) {
  // One byte changed; the last two make the stream start with a window
  // segment and turn the first set's end into a composition.
  const std::tuple<std::size_t, std::uint8_t, const char*> segments[] = {
      {0, 'Q', "0: magic 0x5147 is not \"PG\""},
      {42, 0x99, "32: segment type 0x99 is unknown"},
      {23, 2, "0: composition payload of 19 bytes ends inside object 1 of 2"},
      {45, 2, "32: window payload of 10 bytes does not hold 2 windows (19 bytes)"},
      {67, 0x0B, "55: palette payload of 11 bytes is not 2 bytes plus 5 per entry"},
      {99, 0x14, "80: object 0 ends with 15 run-length bytes of its data length 16"},
      {96, pgs::kFirstFragment, "119: display set ends before object 0 has its last fragment"},
      {96, pgs::kLastFragment, "80: continued fragment of object 0 without its first fragment"},
      {10, 0x17, "0: window segment outside a display set (a composition segment must come first)"},
      {129, 0x16,
       "119: composition segment inside the display set at offset 0, which has no end segment"},
  };
  std::vector<SupDisplaySet> sets;
  for (const auto& [at, value, problem] : segments) {
    Bytes stream = TwoPictures();
    stream[at] = value;
    EXPECT_EQ(Read(stream, stream.size(), sets), problem);
  }

  // Run-length data, the offending code's offset first. The forged picture
  // of 65535 x 65535 pixels gets no room for more than its data fills.
  const std::tuple<Bytes, int, int, const char*> codes[] = {
      {{0x05, 0x00, 0x00}, 65535, 65535, "1: row 0 has 1 pixels, the picture is 65535 wide"},
      {{0x00, 0x8A, 0x07}, 9, 1, "0: run of 10 pixels at column 0 of row 0 passes the width 9"},
      {{0x05, 0x05}, 2, 1, "2: data ends after 0 of 1 rows inside a row without its end of line"},
      {{0x00}, 1, 1, "0: code truncated after its escape byte"},
      {{0x00, 0x81}, 1, 1, "0: code truncated before its index byte"},
      {{0x00, 0x80, 0x05}, 1, 1, "0: run of 0 pixels (flags 0x80)"},
      {{0x05, 0x00, 0x00, 0x05}, 1, 1, "3: pixels after the last of 1 rows"},
  };
  for (const auto& [data, width, height, problem] : codes) {
    Bytes indexes;
    SupError error;
    EXPECT_FALSE(DecodeRle(data.data(), data.size(), width, height, indexes, error));
    EXPECT_EQ(std::to_string(error.offset) + ": " + error.message, problem);
    EXPECT_LE(indexes.size(), 65535u);
  }
}

}  // namespace
}  // namespace kelpie
