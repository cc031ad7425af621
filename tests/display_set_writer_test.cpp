#include "pgs/display_set_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "pgs/pgs_format.h"
#include "pgs/sup_reader.h"

namespace kelpie {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DisplaySetWriterTest, TimeStamps) {
  EXPECT_EQ(TimeStamp(0), 0u);
  EXPECT_EQ(TimeStamp(1), 90u);        // 90.09
  EXPECT_EQ(TimeStamp(7), 630u);       // 630.63
  EXPECT_EQ(TimeStamp(999), 89999u);   // 89999.91
  EXPECT_EQ(TimeStamp(1000), 90090u);  // whole numbers stay
  EXPECT_EQ(TimeStamp(2000), 180180u);
  EXPECT_EQ(TimeStamp(3723004), 335405430u);  // 1:02:03.004
  // Past 6 h 37 min the product exceeds a signed 32-bit integer ...
  EXPECT_EQ(TimeStamp(23840000), 2147745600u);
  // ... and past 13 h 14 min it wraps modulo 2^32.
  EXPECT_EQ(TimeStamp(47700000), 4297293000u - 4294967296u);
  // Earlier stamps stop at 0 instead of wrapping.
  EXPECT_EQ(StampBefore(90090, pgs::kDecodeLead), 84258u);
  EXPECT_EQ(StampBefore(5832, pgs::kDecodeLead), 0u);
  EXPECT_EQ(StampBefore(0, pgs::kWindowLead), 0u);
}

TEST(DisplaySetWriterTest, PaletteConversion) {
  struct Case {
    int r, g, b, y, cr, cb;
  };
  // Each evaluated left to right as written; regrouping the sums changes the
  // first few.
  const Case cases[] = {
      {1, 1, 1, 0, 128, 128},         {1, 49, 17, 30, 107, 121},      {1, 51, 226, 56, 89, 223},
      {1, 3, 3, 2, 128, 128},         {4, 7, 14, 6, 126, 131},        {0, 0, 255, 29, 108, 255},
      {0, 255, 0, 149, 22, 44},       {255, 255, 255, 255, 128, 128}, {255, 0, 0, 76, 255, 85},
      {128, 128, 128, 127, 128, 128}, {0, 0, 0, 0, 128, 128},
  };
  for (const Case& c : cases) {
    const YCrCb got = ToYCrCb(static_cast<std::uint8_t>(c.r), static_cast<std::uint8_t>(c.g),
                              static_cast<std::uint8_t>(c.b));
    EXPECT_EQ(got.y, c.y) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(got.cr, c.cr) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(got.cb, c.cb) << c.r << "," << c.g << "," << c.b;
  }
}

// A 3 x 2 picture: white, white, clear / half-transparent red, clear, white.
struct SmallPicture {
  ColourTable table;
  std::unique_ptr<RleBuffer> rle = std::make_unique<RleBuffer>();
  PicturePlacement placement{100, 200, 3, 2, 1000, 2000};

  SmallPicture() {
    const std::uint8_t rgba[] = {255, 255, 255, 255, 255, 255, 255, 255, 9,   9,   9,   0,
                                 255, 0,   0,   128, 0,   0,   0,   0,   255, 255, 255, 255};
    WorkImage image;
    LoadRgbaPixels(3, 2, rgba, image);
    table.entryCount = 2;
    table.red[0] = table.green[0] = table.blue[0] = table.alpha[0] = 255;
    table.red[1] = 255;
    table.alpha[1] = 128;
    EXPECT_TRUE(EncodeRle(image, table, *rle));
  }
};

TEST(DisplaySetWriterTest, WholePictureByHand) {
  SmallPicture picture;
  Bytes out;
  EXPECT_EQ(AppendDisplaySets(picture.placement, pgs::VideoSize{1920, 1080}, picture.table,
                              *picture.rle, out),
            DisplaySetStatus::kWritten);
  // P0 = 90090 = 0x15FEA, P0 - 5832 = 0x14922, P0 - 5643 = 0x149DF,
  // P0 - 90 = 0x15F90; P1 = 180180 = 0x2BFD4, P1 - 90 = 0x2BF7A.
  const Bytes expected = {
      // show composition
      0x50, 0x47, 0x00, 0x01, 0x5F, 0xEA, 0x00, 0x01, 0x49, 0x22, 0x16, 0x00, 0x13,  //
      0x07, 0x80, 0x04, 0x38, 0x40, 0x00, 0x00, 0x80, 0x00, 0x00, 0x01,              //
      0x00, 0x00, 0x01, 0x00, 0x00, 0x64, 0x00, 0xC8,                                //
      // window
      0x50, 0x47, 0x00, 0x01, 0x5F, 0x90, 0x00, 0x01, 0x49, 0x22, 0x17, 0x00, 0x0A,  //
      0x01, 0x01, 0x00, 0x64, 0x00, 0xC8, 0x00, 0x03, 0x00, 0x02,                    //
      // palette: white (255, 128, 128), red (76, 255, 85) at alpha 128
      0x50, 0x47, 0x00, 0x01, 0x49, 0x22, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x0C,  //
      0x00, 0x00, 0x00, 0xFF, 0x80, 0x80, 0xFF, 0x01, 0x4C, 0xFF, 0x55, 0x80,        //
      // object: 15 bytes of data, data length 19
      0x50, 0x47, 0x00, 0x01, 0x49, 0xDF, 0x00, 0x01, 0x49, 0x22, 0x15, 0x00, 0x1A,  //
      0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x13, 0x00, 0x03, 0x00, 0x02,              //
      0x00, 0x02, 0x00, 0x81, 0xFF, 0x00, 0x00,                                      // 0 0 255
      0x01, 0x00, 0x81, 0xFF, 0x00, 0x01, 0x00, 0x00,                                // 1 255 0
      // end
      0x50, 0x47, 0x00, 0x01, 0x49, 0xDF, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00,  //
      // clear composition
      0x50, 0x47, 0x00, 0x02, 0xBF, 0xD4, 0x00, 0x02, 0xBF, 0x7A, 0x16, 0x00, 0x0B,  //
      0x07, 0x80, 0x04, 0x38, 0x40, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,              //
      // window
      0x50, 0x47, 0x00, 0x02, 0xBF, 0x7A, 0x00, 0x00, 0x00, 0x00, 0x17, 0x00, 0x0A,  //
      0x01, 0x01, 0x00, 0x64, 0x00, 0xC8, 0x00, 0x03, 0x00, 0x02,                    //
      // end
      0x50, 0x47, 0x00, 0x02, 0xBF, 0x7A, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00,  //
  };
  EXPECT_EQ(out, expected);
}

// The header of the segment at `at`: type, payload size, and the first
// payload bytes.
struct Head {
  int type;
  int size;
  std::uint32_t pts;
  std::uint32_t dts;
};
Head HeadAt(const Bytes& out, std::size_t at) {
  auto be = [&](std::size_t i, int n) {
    std::uint32_t v = 0;
    for (int k = 0; k < n; ++k) v = v << 8 | out[i + k];
    return v;
  };
  return Head{out[at + 10], static_cast<int>(be(at + 11, 2)), be(at + 2, 4), be(at + 6, 4)};
}

TEST(DisplaySetWriterTest, LongDataTwoObjectsAndRefusals) {
  ColourTable table;
  table.entryCount = 3;
  // Data that takes three object segments: 65524 + 65531 + 10 bytes.
  const std::int32_t length = 65524 + 65531 + 10;
  Bytes data(static_cast<std::size_t>(length));
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
  const PictureObject big{5, 6, 300, 200, data.data(), length};
  Bytes out;
  ASSERT_EQ(AppendDisplaySets(0, 40, pgs::VideoSize{1440, 1080}, table,
                              std::span<const PictureObject>(&big, 1), out),
            DisplaySetStatus::kWritten);
  // Composition, window, palette (2 + 3 * 5), then the object's segments.
  std::size_t at = 32 + 23 + 13 + 17;
  const Head first = HeadAt(out, at);
  EXPECT_EQ(first.type, 0x15);
  EXPECT_EQ(first.size, 0xFFFF);
  EXPECT_EQ(out[at + 13 + 3], pgs::kFirstFragment);
  EXPECT_EQ((out[at + 17] << 16) | (out[at + 18] << 8) | out[at + 19], length + 4);
  EXPECT_EQ(out[at + 24], 0);  // the data starts after width and height
  at += 13 + 0xFFFF;
  const Head second = HeadAt(out, at);
  EXPECT_EQ(second.size, 0xFFFF);
  EXPECT_EQ(out[at + 13 + 3], 0x00);
  EXPECT_EQ(out[at + 17], 65524 % 251);  // data goes on right after the short head
  at += 13 + 0xFFFF;
  const Head third = HeadAt(out, at);
  EXPECT_EQ(third.size, 4 + 10);
  EXPECT_EQ(out[at + 13 + 3], pgs::kLastFragment);
  // Every fragment carries the first one's stamps; at 0 ms none falls below 0.
  EXPECT_EQ(second.pts, first.pts);
  EXPECT_EQ(third.dts, first.dts);
  EXPECT_EQ(first.pts, 0u);
  EXPECT_EQ(HeadAt(out, 0).dts, 0u);
  std::vector<SupDisplaySet> sets;
  SupError error;
  ASSERT_TRUE(ReadSup(out.data(), out.size(), sets, error)) << error.message;
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].objects[0].data, data);
  EXPECT_EQ(sets[1].pts, TimeStamp(40));

  // Two objects: each in a window of its own, one palette.
  const std::uint8_t rowEnd[] = {0x00, 0x81, 0xFF, 0x00, 0x00};
  const PictureObject two[] = {{10, 20, 1, 1, rowEnd, 5}, {30, 900, 1, 1, rowEnd, 5}};
  out.clear();
  ASSERT_EQ(AppendDisplaySets(1000, 2000, pgs::VideoSize{1920, 1080}, table, two, out),
            DisplaySetStatus::kWritten);
  EXPECT_EQ(HeadAt(out, 0).size, 11 + 2 * 8);
  EXPECT_EQ(HeadAt(out, 13 + 27).size, 1 + 2 * 9);
  ASSERT_TRUE(ReadSup(out.data(), out.size(), sets, error)) << error.message;
  ASSERT_EQ(sets[0].objects.size(), 2u);
  EXPECT_EQ(sets[0].composition.objects[1].y, 900);
  EXPECT_EQ(sets[0].composition.objects[1].windowId, 1);
  EXPECT_EQ(sets[1].windows.size(), 2u);

  // Refused, writing nothing: data longer than a player holds, a size the
  // 16-bit fields cannot hold, three objects.
  out.clear();
  PictureObject refused = big;
  refused.length = pgs::kMaxPlayerObjectData + 1;
  EXPECT_EQ(AppendDisplaySets(0, 1, pgs::VideoSize{1, 1}, table,
                              std::span<const PictureObject>(&refused, 1), out),
            DisplaySetStatus::kObjectDataTooLong);
  refused = two[0];
  refused.width = 65536;
  EXPECT_EQ(AppendDisplaySets(0, 1, pgs::VideoSize{1, 1}, table,
                              std::span<const PictureObject>(&refused, 1), out),
            DisplaySetStatus::kPictureTooLarge);
  const PictureObject three[] = {two[0], two[0], two[0]};
  EXPECT_EQ(AppendDisplaySets(0, 1, pgs::VideoSize{1, 1}, table, three, out),
            DisplaySetStatus::kBadObjectCount);
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace kelpie
