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
  EXPECT_EQ(TimeStamp(-1000), 4294877206u);
  // The decoding stamp of a picture at 0 ms wraps below zero.
  EXPECT_EQ(TimeStamp(0) - pgs::kDecodeLead, 0xFFFFE938u);
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

TEST(DisplaySetWriterTest, SegmentSizesAndRefusals) {
  ColourTable table;
  table.entryCount = 3;
  auto rle = std::make_unique<RleBuffer>();
  rle->rleLength = 500;
  PicturePlacement placement{0, 0, 10, 10, 0, 40};
  Bytes out;
  ASSERT_EQ(AppendDisplaySets(placement, pgs::VideoSize{1440, 1080}, table, *rle, out),
            DisplaySetStatus::kWritten);
  // Second picture right behind the first: sixteen segments, no gap.
  ASSERT_EQ(AppendDisplaySets(placement, pgs::VideoSize{1440, 1080}, table, *rle, out),
            DisplaySetStatus::kWritten);
  std::vector<SupDisplaySet> sets;
  SupError error;
  ASSERT_TRUE(ReadSup(out.data(), out.size(), sets, error)) << error.message;
  ASSERT_EQ(sets.size(), 4u);
  std::size_t segments = 0;
  for (const SupDisplaySet& set : sets) segments += set.segments.size();
  EXPECT_EQ(segments, 16u);
  const SupDisplaySet& show = sets[2];
  EXPECT_EQ(show.offset, out.size() / 2);
  EXPECT_EQ(show.segments[2].size, 17);               // palette: 2 + 3 * 5
  EXPECT_EQ(show.segments[3].size, 511);              // object: 500 + 11
  EXPECT_EQ(show.segments[3].payload[6], 504 - 256);  // data length 0x0001F8
  EXPECT_EQ(show.pts, 0u);
  EXPECT_EQ(show.dts, 0xFFFFE938u);
  EXPECT_EQ(show.composition.videoWidth, 1440);
  EXPECT_EQ(show.composition.videoHeight, 1080);
  EXPECT_EQ(sets[3].pts, TimeStamp(40));
  EXPECT_EQ(sets[3].dts, TimeStamp(40) - 90);

  // The largest object segment; then one byte too many, and a picture whose
  // size does not fit the 16-bit fields: nothing is written.
  rle->rleLength = pgs::kMaxObjectData;
  out.clear();
  ASSERT_EQ(AppendDisplaySets(placement, pgs::VideoSize{1440, 1080}, table, *rle, out),
            DisplaySetStatus::kWritten);
  ASSERT_TRUE(ReadSup(out.data(), out.size(), sets, error)) << error.message;
  EXPECT_EQ(sets[0].segments[3].size, 0xFFFF);
  out.clear();
  rle->rleLength = pgs::kMaxObjectData + 1;
  EXPECT_EQ(AppendDisplaySets(placement, pgs::VideoSize{1440, 1080}, table, *rle, out),
            DisplaySetStatus::kObjectDataTooLong);
  rle->rleLength = 10;
  placement.width = 65536;
  EXPECT_EQ(AppendDisplaySets(placement, pgs::VideoSize{1440, 1080}, table, *rle, out),
            DisplaySetStatus::kPictureTooLarge);
  EXPECT_TRUE(out.empty());

  // Positions and the video size are written as their low 16 bits.
  placement.width = 1;
  placement.posX = 0x12345;
  ASSERT_EQ(AppendDisplaySets(placement, pgs::VideoSize{0x10780, 1080}, table, *rle, out),
            DisplaySetStatus::kWritten);
  EXPECT_EQ(out[13], 0x07);
  EXPECT_EQ(out[14], 0x80);
  EXPECT_EQ(out[13 + 15], 0x23);
  EXPECT_EQ(out[13 + 16], 0x45);
}

}  // namespace
}  // namespace kelpie
