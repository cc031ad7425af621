#include "pgs/rle_encoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pgs/pgs_format.h"

namespace kelpie {
namespace {

constexpr int kClear = -1;  // a fully transparent pixel (with non-zero colour bytes)

using Bytes = std::vector<int>;

class RleEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 256 distinct opaque colours: entry k is (k, 255 - k, 7, 255).
    for (int k = 0; k < 256; ++k) {
      table_.red[k] = static_cast<std::uint8_t>(k);
      table_.green[k] = static_cast<std::uint8_t>(255 - k);
      table_.blue[k] = 7;
      table_.alpha[k] = 255;
    }
    table_.entryCount = 256;
  }
  // Builds a picture of `rows` of table indexes (kClear for transparent).
  void Load(const std::vector<std::vector<int>>& rows) {
    const int height = static_cast<int>(rows.size());
    const int width = height == 0 ? 0 : static_cast<int>(rows[0].size());
    std::vector<std::uint8_t> rgba;
    for (const auto& row : rows) {
      for (int k : row) {
        if (k == kClear) {
          rgba.insert(rgba.end(), {0x12, 0x34, 0x56, 0});
        } else {
          rgba.insert(rgba.end(), {table_.red[k], table_.green[k], table_.blue[k], 255});
        }
      }
    }
    LoadRgbaPixels(width, height, rgba.data(), image_);
  }

  // Encodes the rows and returns the object data.
  Bytes Encode(const std::vector<std::vector<int>>& rows) {
    Load(rows);
    EXPECT_TRUE(EncodeRle(image_, table_, *rle_));
    return Bytes(rle_->bytes, rle_->bytes + rle_->rleLength);
  }

  ColourTable table_;
  WorkImage image_;
  std::unique_ptr<RleBuffer> rle_ = std::make_unique<RleBuffer>();
};

std::vector<int> Span(int length, int index) {
  return std::vector<int>(static_cast<std::size_t>(length), index);
}

std::vector<int> Cat(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(RleEncoderTest, CodeForms) {
  // Index 0: two bytes up to 63 pixels, three from 64.
  EXPECT_EQ(Encode({Span(1, 0)}), (Bytes{0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(3, 0)}), (Bytes{0x00, 0x03, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(63, 0)}), (Bytes{0x00, 0x3F, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(64, 0)}), (Bytes{0x00, 0x40, 0x40, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(300, 0)}), (Bytes{0x00, 0x41, 0x2C, 0x00, 0x00}));
  // Indexes 1 to 57: the index itself for one or two pixels.
  EXPECT_EQ(Encode({Span(1, 5)}), (Bytes{0x05, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(2, 5)}), (Bytes{0x05, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(3, 5)}), (Bytes{0x00, 0x83, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(2, 1)}), (Bytes{0x01, 0x01, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(1, 57)}), (Bytes{0x39, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(2, 57)}), (Bytes{0x39, 0x39, 0x00, 0x00}));
  // Index 58 and above: three bytes even for one or two pixels.
  EXPECT_EQ(Encode({Span(1, 58)}), (Bytes{0x00, 0x81, 0x3A, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(2, 58)}), (Bytes{0x00, 0x82, 0x3A, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(1, 255)}), (Bytes{0x00, 0x81, 0xFF, 0x00, 0x00}));
  // Long coloured runs: four bytes.
  EXPECT_EQ(Encode({Span(63, 7)}), (Bytes{0x00, 0xBF, 0x07, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(64, 7)}), (Bytes{0x00, 0xC0, 0x40, 0x07, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(1000, 200)}), (Bytes{0x00, 0xC3, 0xE8, 0xC8, 0x00, 0x00}));
}

TEST_F(RleEncoderTest, TransparentPixelsTakeIndex255) {
  EXPECT_EQ(Encode({Span(100, kClear)}), (Bytes{0x00, 0xC0, 0x64, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(10, kClear)}), (Bytes{0x00, 0x8A, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(1, kClear)}), (Bytes{0x00, 0x81, 0xFF, 0x00, 0x00}));
  // Transparent pixels run together with a visible colour of index 255.
  EXPECT_EQ(Encode({{kClear, 255, kClear}}), (Bytes{0x00, 0x83, 0xFF, 0x00, 0x00}));
  // Whatever the table holds: an empty table still gives 255.
  table_ = ColourTable{};
  EXPECT_EQ(Encode({{kClear, kClear}}), (Bytes{0x00, 0x82, 0xFF, 0x00, 0x00}));
}

TEST_F(RleEncoderTest, RowsAndRuns) {
  // Runs change with the index; each row ends with 00 00, runs never cross
  // rows.
  EXPECT_EQ(Encode({{5, 5, 0, 0, 0, 60, 1}, {1, 1, 1, 1, 1, 1, 9}}),
            (Bytes{0x05, 0x05, 0x00, 0x03, 0x00, 0x81, 0x3C, 0x01, 0x00, 0x00,  //
                   0x00, 0x86, 0x01, 0x09, 0x00, 0x00}));
  EXPECT_EQ(Encode({{3, 3}, {3, 3}}), (Bytes{0x03, 0x03, 0x00, 0x00, 0x03, 0x03, 0x00, 0x00}));
  // The first visible match wins: a duplicate entry is never used.
  table_.red[9] = table_.red[4];
  table_.green[9] = table_.green[4];
  EXPECT_EQ(Encode({{4, 9}}), (Bytes{0x04, 0x04, 0x00, 0x00}));
  // A visible colour missing from the table (only after the colour error).
  table_.entryCount = 3;
  EXPECT_EQ(Encode({{100}}), (Bytes{0x00, 0x81, 0xFF, 0x00, 0x00}));
}

TEST_F(RleEncoderTest, RunsLongerThan16383AreSplit) {
  EXPECT_EQ(Encode({Span(16383, 5)}), (Bytes{0x00, 0xFF, 0xFF, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(16384, 5)}), (Bytes{0x00, 0xFF, 0xFF, 0x05, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(16385, 0)}), (Bytes{0x00, 0x7F, 0xFF, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Encode({Span(2 * 16383, kClear)}),
            (Bytes{0x00, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(Encode({Cat(Span(16383 + 64, 0), {8})}),
            (Bytes{0x00, 0x7F, 0xFF, 0x00, 0x40, 0x40, 0x08, 0x00, 0x00}));
}

TEST_F(RleEncoderTest, EmptyPictures) {
  Load({});
  EXPECT_TRUE(EncodeRle(image_, table_, *rle_));
  EXPECT_EQ(rle_->rleLength, 0);
  // Zero width: every row is just its end of line.
  LoadRgbaPixels(0, 2, nullptr, image_);
  EXPECT_TRUE(EncodeRle(image_, table_, *rle_));
  EXPECT_EQ(Bytes(rle_->bytes, rle_->bytes + rle_->rleLength), (Bytes{0, 0, 0, 0}));
}

// One row of `pairs` alternating three-byte runs (indexes 100 and 101) and
// `singles` alternating one-byte runs (5 and 6): 3 * pairs + singles + 2 bytes.
std::vector<int> SizedRow(int threeByteRuns, int singles) {
  std::vector<int> row;
  for (int i = 0; i < threeByteRuns; ++i) row.push_back(100 + i % 2);
  for (int i = 0; i < singles; ++i) row.push_back(5 + i % 2);
  return row;
}

TEST_F(RleEncoderTest, PlayerLimitAndNeverPastTheBuffer) {
  // 3 * 349524 + 2 + 2 bytes: the most object data a player holds.
  Load({SizedRow(349524, 2)});
  EXPECT_TRUE(EncodeRle(image_, table_, *rle_));
  EXPECT_EQ(rle_->rleLength, pgs::kMaxPlayerObjectData);
  // One byte more: too long, with the full length.
  Load({SizedRow(349524, 3)});
  EXPECT_FALSE(EncodeRle(image_, table_, *rle_));
  EXPECT_EQ(rle_->rleLength, pgs::kMaxPlayerObjectData + 1);

  // Far longer data is counted, and nothing is written past the buffer.
  struct Guarded {
    RleBuffer rle;
    std::uint8_t guard[64];
  };
  auto guarded = std::make_unique<Guarded>();
  std::fill(std::begin(guarded->guard), std::end(guarded->guard), 0xA5);
  Load({SizedRow(200000, 0), SizedRow(200000, 0)});
  EXPECT_FALSE(EncodeRle(image_, table_, guarded->rle));
  EXPECT_EQ(guarded->rle.rleLength, 2 * 600002);
  for (std::uint8_t b : guarded->guard) ASSERT_EQ(b, 0xA5);
}

}  // namespace
}  // namespace kelpie
