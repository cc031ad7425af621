#include "pgs/sup_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pgs/display_set_writer.h"
#include "pgs/pgs_format.h"
#include "pgs/rle_encoder.h"

namespace kelpie {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Offsets in the stream of one 3 x 2 picture with two colours and 15 bytes
// of object data (192 bytes in all).
constexpr std::size_t kShowAt = 0;     // 32 bytes
constexpr std::size_t kWindowAt = 32;  // 23 bytes
constexpr std::size_t kPaletteAt = 55;
constexpr std::size_t kObjectAt = 80;
constexpr std::size_t kEndAt = 119;
constexpr std::size_t kClearAt = 132;
constexpr std::size_t kPictureSize = 192;

// White, white, clear / half-transparent red, clear, white at (100, 200),
// written twice: 1 s to 2 s, then 3 s to 4 s.
Bytes TwoPictures() {
  const std::uint8_t rgba[] = {255, 255, 255, 255, 255, 255, 255, 255, 9,   9,   9,   0,
                               255, 0,   0,   128, 0,   0,   0,   0,   255, 255, 255, 255};
  WorkImage image;
  LoadRgbaPixels(3, 2, rgba, image);
  ColourTable table;
  table.entryCount = 2;
  table.red[0] = table.green[0] = table.blue[0] = table.alpha[0] = 255;
  table.red[1] = 255;
  table.alpha[1] = 128;
  auto rle = std::make_unique<RleBuffer>();
  EXPECT_TRUE(EncodeRle(image, table, *rle));
  Bytes out;
  AppendDisplaySets(PicturePlacement{100, 200, 3, 2, 1000, 2000}, pgs::VideoSize{1920, 1080}, table,
                    *rle, out);
  AppendDisplaySets(PicturePlacement{100, 200, 3, 2, 3000, 4000}, pgs::VideoSize{1920, 1080}, table,
                    *rle, out);
  EXPECT_EQ(out.size(), 2 * kPictureSize);
  return out;
}

TEST(SupReaderTest, ReadsWhatTheWriterWrites) {
  const Bytes stream = TwoPictures();
  std::vector<SupDisplaySet> sets;
  SupError error;
  ASSERT_TRUE(ReadSup(stream.data(), stream.size(), sets, error)) << error.message;
  ASSERT_EQ(sets.size(), 4u);

  const SupDisplaySet& show = sets[0];
  EXPECT_EQ(show.pts, 90090u);
  EXPECT_EQ(show.dts, 90090u - 5832);
  EXPECT_EQ(show.composition.videoWidth, 1920);
  EXPECT_EQ(show.composition.videoHeight, 1080);
  EXPECT_EQ(show.composition.state, pgs::kCompositionStateEpochStart);
  ASSERT_EQ(show.composition.objects.size(), 1u);
  EXPECT_EQ(show.composition.objects[0].x, 100);
  EXPECT_EQ(show.composition.objects[0].y, 200);
  ASSERT_EQ(show.windows.size(), 1u);
  EXPECT_EQ(show.windows[0].width, 3);
  EXPECT_EQ(show.windows[0].height, 2);
  ASSERT_EQ(show.palettes.size(), 1u);
  ASSERT_EQ(show.palettes[0].entries.size(), 2u);
  EXPECT_EQ(show.palettes[0].entries[1].y, 76);
  EXPECT_EQ(show.palettes[0].entries[1].alpha, 128);
  ASSERT_EQ(show.objects.size(), 1u);
  EXPECT_EQ(show.objects[0].width, 3);
  EXPECT_EQ(show.objects[0].height, 2);
  ASSERT_EQ(show.segments.size(), 5u);
  EXPECT_EQ(show.segments[4].pts, 90090u - 5643);

  std::vector<std::uint8_t> indexes;
  ASSERT_TRUE(
      DecodeRle(show.objects[0].data.data(), show.objects[0].data.size(), 3, 2, indexes, error))
      << error.message;
  EXPECT_EQ(indexes, (Bytes{0, 0, 255, 1, 255, 0}));

  const SupDisplaySet& clear = sets[1];
  EXPECT_EQ(clear.offset, kClearAt);
  EXPECT_EQ(clear.pts, 180180u);
  EXPECT_TRUE(clear.composition.objects.empty());
  EXPECT_EQ(clear.composition.number, 1);
  EXPECT_EQ(clear.segments.size(), 3u);
  EXPECT_EQ(sets[2].offset, kPictureSize);
  EXPECT_EQ(FormatTicks(sets[2].pts), "0:00:03.003");
}

TEST(SupReaderTest, EveryTruncation) {
  const Bytes stream = TwoPictures();
  std::vector<SupDisplaySet> full;
  SupError error;
  ASSERT_TRUE(ReadSup(stream.data(), stream.size(), full, error));
  std::vector<std::size_t> setEnds;
  std::vector<std::size_t> segmentStarts;
  for (const SupDisplaySet& set : full) {
    for (const SupSegment& s : set.segments) segmentStarts.push_back(s.offset);
    const SupSegment& last = set.segments.back();
    setEnds.push_back(last.offset + pgs::kSegmentHeaderSize + last.size);
  }
  for (std::size_t n = 0; n < stream.size(); ++n) {
    std::vector<SupDisplaySet> sets;
    const bool ok = ReadSup(stream.data(), n, sets, error);
    std::size_t completeSets = 0;
    while (completeSets < setEnds.size() && setEnds[completeSets] <= n) ++completeSets;
    EXPECT_EQ(sets.size(), completeSets) << n;
    if (n == 0 || (completeSets > 0 && setEnds[completeSets - 1] == n)) {
      EXPECT_TRUE(ok) << n;
      continue;
    }
    ASSERT_FALSE(ok) << n;
    std::size_t segment = 0;
    for (std::size_t start : segmentStarts) {
      if (start <= n) segment = start;
    }
    if (segment == n) {
      // Cut between two segments of one display set.
      EXPECT_EQ(error.offset, n);
      EXPECT_NE(error.message.find("stream ends inside the display set"), std::string::npos);
    } else {
      EXPECT_EQ(error.offset, segment) << n << ": " << error.message;
    }
  }
}

TEST(SupReaderTest, MalformedSegments) {
  struct Case {
    std::size_t at;
    std::uint8_t value;
    std::size_t offset;
    const char* message;
  };
  const Case cases[] = {
      {kShowAt, 'Q', kShowAt, "magic 0x5147 is not \"PG\""},
      {kWindowAt + 10, 0x99, kWindowAt, "segment type 0x99 is unknown"},
      {kShowAt + 13 + 10, 2, kShowAt, "composition payload of 19 bytes ends inside object 1 of 2"},
      {kShowAt + 13 + 14, pgs::kObjectCropped, kShowAt,
       "composition payload of 19 bytes ends inside the crop of object 0"},
      {kWindowAt + 13, 2, kWindowAt,
       "window payload of 10 bytes does not hold 2 windows (19 bytes)"},
      {kPaletteAt + 12, 0x0B, kPaletteAt,
       "palette payload of 11 bytes is not 2 bytes plus 5 per entry"},
      {kObjectAt + 13 + 6, 0x14, kObjectAt,
       "object 0 ends with 15 run-length bytes of its data length 16"},
      {kObjectAt + 13 + 6, 0x03, kObjectAt,
       "object data length 3 is less than the 4 bytes of the picture size"},
      {kObjectAt + 13 + 3, pgs::kFirstFragment, kEndAt,
       "display set ends before object 0 has its last fragment"},
      {kObjectAt + 13 + 3, pgs::kLastFragment, kObjectAt,
       "continued fragment of object 0 without its first fragment"},
      {kShowAt + 12, 10, kShowAt,
       "composition payload of 10 bytes is shorter than its 11-byte head"},
  };
  for (const Case& c : cases) {
    Bytes stream = TwoPictures();
    stream[c.at] = c.value;
    std::vector<SupDisplaySet> sets;
    SupError error;
    EXPECT_FALSE(ReadSup(stream.data(), stream.size(), sets, error)) << c.message;
    EXPECT_EQ(error.offset, c.offset) << c.message;
    EXPECT_EQ(error.message, c.message);
  }

  // A display set without its end segment, and a stream that starts inside
  // a display set.
  Bytes stream = TwoPictures();
  stream.erase(stream.begin() + kEndAt, stream.begin() + kClearAt);
  std::vector<SupDisplaySet> sets;
  SupError error;
  EXPECT_FALSE(ReadSup(stream.data(), stream.size(), sets, error));
  EXPECT_EQ(error.offset, kEndAt);
  EXPECT_EQ(error.message,
            "composition segment inside the display set at offset 0, which has no end segment");
  stream = TwoPictures();
  EXPECT_FALSE(ReadSup(stream.data() + kWindowAt, stream.size() - kWindowAt, sets, error));
  EXPECT_EQ(error.offset, 0u);
  EXPECT_EQ(error.message,
            "window segment outside a display set (a composition segment must come first)");
  EXPECT_FALSE(ReadSup(stream.data(), 20, sets, error));
  EXPECT_EQ(error.message,
            "composition payload of 19 bytes runs past the end of the stream (7 bytes left)");
  EXPECT_FALSE(ReadSup(stream.data(), 5, sets, error));
  EXPECT_EQ(error.message, "segment header truncated: 5 of 13 bytes");
}

TEST(SupReaderTest, MalformedRunLengthData) {
  struct Case {
    Bytes data;
    int width, height;
    std::size_t offset;
    const char* message;
  };
  const Case cases[] = {
      {{0x05, 0x00, 0x00}, 2, 1, 1, "row 0 has 1 pixels, the picture is 2 wide"},
      {{0x00, 0xC0, 0x64, 0x07},
       99,
       1,
       0,
       "run of 100 pixels at column 0 of row 0 passes the width 99"},
      {{0x05, 0x05}, 2, 1, 2, "data ends after 0 of 1 rows inside a row without its end of line"},
      {{}, 1, 1, 0, "data ends after 0 of 1 rows"},
      {{0x00}, 1, 1, 0, "code truncated after its escape byte"},
      {{0x00, 0x81}, 1, 1, 0, "code truncated before its index byte"},
      {{0x00, 0x80, 0x05}, 1, 1, 0, "run of 0 pixels (flags 0x80)"},
      {{0x05, 0x00, 0x00, 0x05}, 1, 1, 3, "pixels after the last of 1 rows"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> indexes;
    SupError error;
    EXPECT_FALSE(DecodeRle(c.data.data(), c.data.size(), c.width, c.height, indexes, error))
        << c.message;
    EXPECT_EQ(error.offset, c.offset) << c.message;
    EXPECT_EQ(error.message, c.message);
  }
}

// A forged object of 65535 x 65535 pixels with a few bytes of data: the
// decoder refuses it without setting aside memory for the whole picture.
TEST(SupReaderTest, HugeForgedObjectAllocatesOnlyWhatItsDataFills) {
  const Bytes data = {0x00, 0xFF, 0xFF, 0x05, 0x00, 0x00};
  std::vector<std::uint8_t> indexes;
  SupError error;
  EXPECT_FALSE(DecodeRle(data.data(), data.size(), 65535, 65535, indexes, error));
  EXPECT_EQ(error.message, "row 0 has 16383 pixels, the picture is 65535 wide");
  EXPECT_LE(indexes.size(), 65535u);
}

TEST(SupReaderTest, FormatTicks) {
  EXPECT_EQ(FormatTicks(335405430), "1:02:06.727");
  EXPECT_EQ(FormatTicks(0xFFFFFFFF), "13:15:21.858");
}

}  // namespace
}  // namespace kelpie
