#include "pgs/rle_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "pgs/pgs_format.h"
#include "tests/pixel_helpers.h"

namespace kelpie {
namespace {

constexpr int kClear = -1;  // a fully transparent pixel (drawn with non-zero colour bytes)

using Bytes = std::vector<int>;
using Rows = std::vector<std::vector<int>>;

// The colour of index k: (k, 255 - k, 7), with blue 8 from k = 256 on; kClear
// transparent.
Argb Colour(int k) {
  return k == kClear ? 0x00FF0007 : MakeArgb(255, k % 256, 255 - k % 256, 7 + k / 256);
}

ArgbBitmap Picture(const Rows& rows) {
  ArgbBitmap picture(rows.empty() ? 0 : static_cast<int>(rows[0].size()), rows.size());
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) picture.SetPixel(x, y, Colour(rows[y][x]));
  return picture;
}

class RleEncoderTest : public ::testing::Test {
 protected:
  // 256 distinct opaque colours: entry k is the colour of index k.
  RleEncoderTest() {
    for (int k = 0; k < 256; ++k) EnterColour<ArgbKeys>(table_, Colour(k));
  }

  // Encodes `rows`; returns whether the data fits a player.
  bool Encode(const Rows& rows, RleBuffer& rle) {
    WorkImage image;
    LoadPixels(Picture(rows), image);
    return EncodeRle(image, table_, rle);
  }

  // The object data of `rows`.
  Bytes Encode(const Rows& rows) {
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

// Random pictures of runs (mostly short, some past 16383 pixels) of up to 400
// colours and of transparent pixels, every width to 40 and larger ones. The
// fast encoder gives the plain bytes against the colour count's table (full
// after an overflow, so that colours are missing from it); the one-pass count
// and code completes exactly when the table never fills, and then gives the
// count's table and verdict and the encoder's bytes.
TEST_F(RleEncoderTest, FastPathsGiveThePlainBytesOnEverySet) {
  std::mt19937 random(13);
  auto quantiser = std::make_unique<Quantiser>();
  auto plain = std::make_unique<RleBuffer>();
  for (InstructionSet set : testing::SupportedSets()) {
    for (int round = 0; round < 358; ++round) {
      const auto width = round < 246 ? round / 6 : 300 + random() % (round < 346 ? 900 : 40000);
      Rows rows(round % 7 == 6 ? 0 : 1 + random() % 3);
      const unsigned colours = std::array{1, 19, 60, 256, 400}[round % 5];
      unsigned next = 0;  // new colours come in turn, now and then one seen before
      for (std::vector<int>& row : rows)
        while (row.size() < width) {
          const int k =
              random() % 3 < round % 3u ? kClear : (random() % 8 ? next++ : random()) % colours;
          const std::size_t run = 1 + random() % (width > 16384 && random() % 8 == 0 ? 20000 : 3);
          row.insert(row.end(), std::min(run, width - row.size()), k);
        }
      const ArgbBitmap picture = Picture(rows);
      WorkImage image;
      image.instructionSet = set;
      LoadPixels(picture, image);
      ColourTable together, apart;
      const ScanResult scan = EncodeRleWhileCounting(picture, together, *rle_, nullptr, set);
      const Bytes onePass(rle_->bytes, rle_->bytes + rle_->rleLength);
      const ColourCount count = CountColours(image, apart, *quantiser);
      ASSERT_EQ(EncodeRle(image, apart, *rle_), EncodeRleReference(image, apart, *plain));
      const Bytes data(plain->bytes, plain->bytes + plain->rleLength);
      ASSERT_EQ(Bytes(rle_->bytes, rle_->bytes + rle_->rleLength), data)
          << InstructionSetName(set) << " round " << round;
      const bool complete = scan.end == ScanEnd::kComplete;
      ASSERT_EQ(complete, !count.quantised && apart.entryCount < 256) << round;
      ASSERT_TRUE(!complete || (JudgeColourCount(together, scan).ok == count.ok &&
                                std::memcmp(&together, &apart, sizeof apart) == 0 &&
                                (!count.ok || onePass == data)))
          << round;
    }
  }
}

}  // namespace
}  // namespace kelpie
