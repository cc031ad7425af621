#include "pgs/display_set_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "pgs/pgs_format.h"
#include "pgs/sup_reader.h"

namespace kelpie {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DisplaySetWriterTest, TimeStampsAndPaletteColours) {
  // trunc(ms * 90.09): 90.09, 630.63, 89999.91, whole numbers, 1:02:03.004;
  // past 6 h 37 min the product exceeds a signed 32-bit integer, and past
  // 13 h 14 min it wraps modulo 2^32.
  const std::int32_t ms[] = {0, 1, 7, 999, 1000, 2000, 3723004, 23840000, 47700000};
  const std::uint32_t ticks[] = {
      0, 90, 630, 89999, 90090, 180180, 335405430, 2147745600, 4297293000 - 4294967296};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(TimeStamp(ms[i]), ticks[i]) << ms[i];
  // Earlier stamps stop at 0 instead of wrapping.
  EXPECT_EQ(std::tuple(StampBefore(90090, pgs::kDecodeLead), StampBefore(5832, pgs::kDecodeLead),
                       StampBefore(0, pgs::kWindowLead)),
            std::tuple(84258u, 0u, 0u));

  // Red, green, blue to Y, Cr, Cb, each evaluated left to right as written;
  // regrouping the sums changes the first few.
  const int colours[][6] = {
      {1, 1, 1, 0, 128, 128},         {1, 49, 17, 30, 107, 121},      {1, 51, 226, 56, 89, 223},
      {1, 3, 3, 2, 128, 128},         {4, 7, 14, 6, 126, 131},        {0, 0, 255, 29, 108, 255},
      {0, 255, 0, 149, 22, 44},       {255, 255, 255, 255, 128, 128}, {255, 0, 0, 76, 255, 85},
      {128, 128, 128, 127, 128, 128}, {0, 0, 0, 0, 128, 128},
  };
  for (const auto& [r, g, b, y, cr, cb] : colours) {
    const YCrCb got = ToYCrCb(r, g, b);
    EXPECT_EQ(std::tuple(r, g, b, +got.y, +got.cr, +got.cb), std::tuple(r, g, b, y, cr, cb));
  }
}

// A 3 x 2 picture: white, white, clear / half-transparent red, clear, white.
TEST(DisplaySetWriterTest, WholePictureByHand) {
  const std::uint8_t rgba[] = {255, 255, 255, 255, 255, 255, 255, 255, 9,   9,   9,   0,
                               255, 0,   0,   128, 0,   0,   0,   0,   255, 255, 255, 255};
  WorkImage image;
  LoadRgbaPixels(3, 2, rgba, image);
  const ColourTable table{
      .red = {255, 255}, .green = {255}, .blue = {255}, .alpha = {255, 128}, .entryCount = 2};
  auto rle = std::make_unique<RleBuffer>();
  EXPECT_TRUE(EncodeRle(image, table, *rle));
  Bytes out;
  EXPECT_EQ(AppendDisplaySets({100, 200, 3, 2, 1000, 2000}, {1920, 1080}, table, *rle, out),
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

TEST(DisplaySetWriterTest, LongDataAndRefusals) {
  // Data that takes three object segments, 65524 + 65531 + 10 bytes, of a
  // picture at 0 ms, so that no stamp falls below 0. (The reader checks the
  // data length and the fragment flags.)
  const ColourTable table{.entryCount = 3};
  Bytes data(65524 + 65531 + 10);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i % 251);
  const PictureObject big{5, 6, 300, 200, data.data(), static_cast<std::int32_t>(data.size())};
  Bytes out;
  ASSERT_EQ(AppendDisplaySets(0, 40, {1440, 1080}, table, std::span(&big, 1), out),
            DisplaySetStatus::kWritten);
  std::vector<SupDisplaySet> sets;
  SupError error;
  ASSERT_TRUE(ReadSup(out.data(), out.size(), sets, error)) << error.message;
  // Composition, window, palette, three object segments, end; the clear.
  ASSERT_EQ(std::tuple(sets.size(), sets.at(0).segments.size()), std::tuple(2u, 7u));
  EXPECT_EQ(std::pair(sets[0].objects.at(0).data == data, sets[1].pts),
            std::pair(true, TimeStamp(40)));
  // Every fragment carries the first one's stamps, none below 0.
  const SupSegment* object = &sets[0].segments[3];
  EXPECT_EQ(
      std::tuple(object[0].size, object[1].size, object[2].size, object[0].pts, object[2].dts),
      std::tuple(0xFFFF, 0xFFFF, 4 + 10, 0u, 0u));

  // Refused, writing nothing: data longer than a player holds, a size the
  // 16-bit fields cannot hold, three objects. (Two objects, each in a window
  // of its own, are decoded in ffmpeg_roundtrip_test.)
  out.clear();
  const PictureObject tooLong{5, 6, 300, 200, data.data(), pgs::kMaxPlayerObjectData + 1};
  const PictureObject tooWide{10, 20, 65536, 1, data.data(), 5};
  const PictureObject three[] = {big, big, big};
  EXPECT_EQ(std::tuple(AppendDisplaySets(0, 1, {1, 1}, table, std::span(&tooLong, 1), out),
                       AppendDisplaySets(0, 1, {1, 1}, table, std::span(&tooWide, 1), out),
                       AppendDisplaySets(0, 1, {1, 1}, table, three, out)),
            std::tuple(DisplaySetStatus::kObjectDataTooLong, DisplaySetStatus::kPictureTooLarge,
                       DisplaySetStatus::kBadObjectCount));
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace kelpie
