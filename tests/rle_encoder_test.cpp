#include "pgs/rle_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "pgs/pgs_format.h"

namespace kelpie {
namespace {

constexpr int kClear = -1;  // a fully transparent pixel (drawn with non-zero colour bytes)

using Bytes = std::vector<int>;

class RleEncoderTest : public ::testing::Test {
 protected:
  // 256 distinct opaque colours: entry k is (k, 255 - k, 7, 255), the colour
  // Encode draws index k in.
  RleEncoderTest() {
    for (int k = 0; k < 256; ++k)
      std::tie(table_.red[k], table_.green[k], table_.blue[k], table_.alpha[k]) =
          std::tuple(k, 255 - k, 7, 255);
    table_.entryCount = 256;
  }

  // Encodes `rows` of table indexes (kClear for transparent); returns whether
  // the data fits a player.
  bool Encode(const std::vector<std::vector<int>>& rows, RleBuffer& rle) {
    auto byte = [](int v) { return static_cast<std::uint8_t>(v); };
    std::vector<std::uint8_t> rgba;
    for (const auto& row : rows)
      for (int k : row)
        rgba.insert(rgba.end(), {byte(k), byte(255 - k), 7, byte(k == kClear ? 0 : 255)});
    WorkImage image;
    LoadRgbaPixels(rows.empty() ? 0 : static_cast<int>(rows[0].size()),
                   static_cast<int>(rows.size()), rgba.data(), image);
    return EncodeRle(image, table_, rle);
  }

  // The object data of `rows`.
  Bytes Encode(const std::vector<std::vector<int>>& rows) {
    EXPECT_TRUE(Encode(rows, *rle_));
    return Bytes(rle_->bytes, rle_->bytes + rle_->rleLength);
  }

  ColourTable table_;
  std::unique_ptr<RleBuffer> rle_ = std::make_unique<RleBuffer>();
};

TEST_F(RleEncoderTest, CodeFormsRowsAndIndexes) {
  // One row of `length` pixels of one index.
  const std::tuple<int, int, Bytes> runs[] = {
      // Index 0: two bytes up to 63 pixels, three from 64.
      {63, 0, {0x00, 0x3F, 0x00, 0x00}},
      {64, 0, {0x00, 0x40, 0x40, 0x00, 0x00}},
      // Indexes 1 to 57: the index itself for one or two pixels.
      {2, 1, {0x01, 0x01, 0x00, 0x00}},
      {1, 57, {0x39, 0x00, 0x00}},
      {2, 57, {0x39, 0x39, 0x00, 0x00}},
      {3, 5, {0x00, 0x83, 0x05, 0x00, 0x00}},
      // Index 58 and above: three bytes even for one or two pixels.
      {1, 58, {0x00, 0x81, 0x3A, 0x00, 0x00}},
      // Long coloured runs: four bytes from 64 pixels.
      {63, 7, {0x00, 0xBF, 0x07, 0x00, 0x00}},
      {64, 7, {0x00, 0xC0, 0x40, 0x07, 0x00, 0x00}},
      // Transparent pixels take index 255.
      {100, kClear, {0x00, 0xC0, 0x64, 0xFF, 0x00, 0x00}},
      // Runs longer than 16383 pixels are split.
      {16383, 5, {0x00, 0xFF, 0xFF, 0x05, 0x00, 0x00}},
      {16384, 5, {0x00, 0xFF, 0xFF, 0x05, 0x05, 0x00, 0x00}},
      {16385, 0, {0x00, 0x7F, 0xFF, 0x00, 0x02, 0x00, 0x00}},
  };
  for (const auto& [length, index, bytes] : runs)
    EXPECT_EQ(Encode({std::vector<int>(length, index)}), bytes) << length << " of " << index;

  // Runs change with the index; each row ends with 00 00, runs never cross
  // rows. Transparent pixels run together with a visible colour of index 255.
  EXPECT_EQ(Encode({{5, 5, 0, 0, 0, 60, 1}, {1, 1, 1, 1, 1, 1, 9}}),
            (Bytes{0x05, 0x05, 0x00, 0x03, 0x00, 0x81, 0x3C, 0x01, 0x00, 0x00,  //
                   0x00, 0x86, 0x01, 0x09, 0x00, 0x00}));
  EXPECT_EQ(Encode({{kClear, 255, kClear}}), (Bytes{0x00, 0x83, 0xFF, 0x00, 0x00}));
  // Zero width: every row is just its end of line.
  EXPECT_EQ(Encode({{}, {}}), (Bytes{0, 0, 0, 0}));
  // The first visible match wins: a duplicate entry is never used. A visible
  // colour missing from the table (only after the colour error) takes 255.
  std::tie(table_.red[9], table_.green[9]) = std::tuple(4, 251);  // entry 4's colour
  EXPECT_EQ(Encode({{4, 4}}), (Bytes{0x04, 0x04, 0x00, 0x00}));
  table_.entryCount = 3;
  EXPECT_EQ(Encode({{100}}), (Bytes{0x00, 0x81, 0xFF, 0x00, 0x00}));
}

// One row of alternating three-byte runs (indexes 100 and 101), then
// alternating one-byte runs (5 and 6): 3 * triples + singles + 2 bytes.
std::vector<int> SizedRow(int triples, int singles) {
  std::vector<int> row;
  for (int i = 0; i < triples + singles; ++i) row.push_back(i < triples ? 100 + i % 2 : 5 + i % 2);
  return row;
}

TEST_F(RleEncoderTest, PlayerLimitAndNeverPastTheBuffer) {
  // 3 * 349524 + 2 + 2 bytes: the most object data a player holds; one byte
  // more is too long, with the full length.
  EXPECT_TRUE(Encode({SizedRow(349524, 2)}, *rle_));
  EXPECT_EQ(rle_->rleLength, pgs::kMaxPlayerObjectData);
  EXPECT_FALSE(Encode({SizedRow(349524, 3)}, *rle_));
  EXPECT_EQ(rle_->rleLength, pgs::kMaxPlayerObjectData + 1);
  // Far longer data is counted, and nothing is written past the buffer.
  auto guarded = std::make_unique<std::pair<RleBuffer, std::array<std::uint8_t, 64>>>();
  guarded->second.fill(0xA5);
  EXPECT_FALSE(Encode({SizedRow(200000, 0), SizedRow(200000, 0)}, guarded->first));
  EXPECT_EQ(guarded->first.rleLength, 2 * 600002);
  EXPECT_EQ(std::count(guarded->second.begin(), guarded->second.end(), 0xA5), 64);
}

}  // namespace
}  // namespace kelpie
