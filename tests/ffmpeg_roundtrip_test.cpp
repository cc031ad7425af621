// Decodes written streams with FFmpeg's PGS decoder (libavcodec), exactly as
// written, and checks that every display set decodes: each shown object has
// the size, position and times that were written, and its indexes equal,
// pixel for pixel, those of the encoded picture. The first test writes
// pictures through the writer directly; the others convert the sample
// script, every script of the shared corpus and a few made here (large
// pictures, a line at the very start) with the built program.
#include <gtest/gtest.h>

#if !KELPIE_HAVE_LIBAV
TEST(FfmpegRoundTripTest, NeedsLibavcodec) {
  GTEST_SKIP() << "libavcodec was not found when this test was built; install libavcodec-dev";
}
#else
#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "pgs/display_set_writer.h"
#include "pgs/sup_reader.h"
#include "tests/file_helpers.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kelpie {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Reads `stream` into `sets` and feeds every segment to FFmpeg's decoder as
// one packet, the way its demuxer delivers a ".sup": the segment type, size
// and payload, with the header's time stamps as packet time stamps. Checks
// that each display set decodes to one subtitle at its time, with one
// rectangle per object of the written position, size and alpha, whose
// indexes (appended to `shown`) are the object's own run-length data
// decoded; that the sets come in time order, none decoded after it is
// shown, every object inside the video; and that the decoder warns of
// nothing.
void ExpectDecodesAsWritten(const Bytes& stream, std::vector<SupDisplaySet>& sets,
                            std::vector<Bytes>& shown) {
  SupError error;
  ASSERT_TRUE(ReadSup(stream.data(), stream.size(), sets, error))
      << "offset " << error.offset << ": " << error.message;
  static std::string messages;
  messages.clear();
  av_log_set_callback([](void*, int level, const char* format, va_list) {
    if (level <= AV_LOG_WARNING) messages += format;  // what it says, without its values
  });
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HDMV_PGS_SUBTITLE);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->pkt_timebase = AVRational{1, 90000};
  ASSERT_GE(avcodec_open2(context, codec, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  for (std::size_t i = 0; i < sets.size(); ++i) {
    SCOPED_TRACE("display set " + std::to_string(i));
    const SupDisplaySet& set = sets[i];
    EXPECT_TRUE(set.dts <= set.pts && (i == 0 || set.pts >= sets[i - 1].pts)) << "back in time";
    int subtitles = 0;
    for (const SupSegment& segment : set.segments) {
      const int size = pgs::kSegmentTypeSize + pgs::kPayloadSizeSize + segment.size;
      av_packet_unref(packet);
      av_new_packet(packet, size);
      std::copy_n(stream.data() + segment.offset + pgs::kSegmentTypeOffset, size, packet->data);
      std::tie(packet->pts, packet->dts) = std::tuple(segment.pts, segment.dts);
      AVSubtitle subtitle{};
      int got = 0;
      EXPECT_GE(avcodec_decode_subtitle2(context, &subtitle, &got, packet), 0)
          << "segment at offset " << segment.offset;
      if (!got) continue;
      ++subtitles;
      EXPECT_EQ(subtitle.pts, av_rescale_q(set.pts, AVRational{1, 90000}, AV_TIME_BASE_Q));
      ASSERT_EQ(subtitle.num_rects, set.composition.objects.size());
      for (std::size_t k = 0; k < set.composition.objects.size(); ++k) {
        const AVSubtitleRect& r = *subtitle.rects[k];
        const SupCompositionObject& at = set.composition.objects[k];
        const SupObject& object = set.objects.at(k);
        EXPECT_EQ(std::tuple(r.x, r.y, r.w, r.h, at.objectId),
                  std::tuple(at.x, at.y, object.width, object.height, object.id));
        EXPECT_TRUE(at.x + object.width <= set.composition.videoWidth &&
                    at.y + object.height <= set.composition.videoHeight);
        ASSERT_TRUE(r.data[0] && r.data[1]) << "a rectangle without pixels or palette";
        Bytes& pixels = shown.emplace_back();
        for (std::ptrdiff_t row = 0; row < r.h; ++row)
          pixels.insert(pixels.end(), r.data[0] + row * r.linesize[0],
                        r.data[0] + row * r.linesize[0] + r.w);
        Bytes indexes;
        EXPECT_TRUE(DecodeRle(object.data.data(), object.data.size(), object.width, object.height,
                              indexes, error))
            << error.message;
        EXPECT_TRUE(pixels == indexes) << "indexes differ";
        // The decoder keeps each entry's alpha in its 256 ARGB colours.
        const auto* argb = reinterpret_cast<const std::uint32_t*>(r.data[1]);
        for (const SupPaletteEntry& entry : set.palettes.at(0).entries)
          EXPECT_EQ(argb[entry.id] >> 24, entry.alpha) << "entry " << +entry.id;
      }
      avsubtitle_free(&subtitle);
    }
    EXPECT_EQ(subtitles, 1);
  }
  av_packet_free(&packet);
  avcodec_free_context(&context);
  EXPECT_EQ(messages, "") << "the decoder warned";
}

// A picture to put through the colour count, the encoder and the writer.
struct WrittenPicture {
  PicturePlacement placement;
  pgs::VideoSize video = {1920, 1080};
  ArgbBitmap picture = ArgbBitmap(placement.width, placement.height);
};

TEST(FfmpegRoundTripTest, PicturesFromTheWriter) {
  // Fully transparent: an empty palette, every pixel index 255.
  std::vector<WrittenPicture> pictures = {{{10, 20, 40, 10, 0, 1000}}};
  // 256 opaque colours: index 255 is a colour.
  ArgbBitmap& full = pictures.emplace_back(WrittenPicture{{300, 400, 16, 16, 1500, 2500}}).picture;
  for (int i = 0; i < 256; ++i)
    full.SetPixel(i % 16, i / 16, MakeArgb(255, i, i * 7 % 256, 255 - i));
  // Runs longer than 16383 pixels, in a video wide enough for the decoder:
  // one colour; clear, then a colour; long clear, then short runs.
  ArgbBitmap& wide =
      pictures.emplace_back(WrittenPicture{{0, 5, 20000, 3, 3000, 4000}, {20000, 100}}).picture;
  for (int x = 0; x < 20000; ++x) {
    wide.SetPixel(x, 0, 0xFF090909);
    if (x >= 16384) wide.SetPixel(x, 1, 0xFFC80000);
    if (x >= 17000 && x % 3 == 0) wide.SetPixel(x, 2, 0x5A000000);
  }
  // Random picture: transparent background, 255 colours with partial alpha,
  // runs so short that its data takes three object segments; after
  // 6 h 37 min (time stamps above 2^31).
  std::mt19937 random(7);
  ArgbBitmap& noisy =
      pictures.emplace_back(WrittenPicture{{5, 6, 300, 200, 24000000, 24000500}}).picture;
  for (int i = 0; i < 300 * 200; ++i) {
    const unsigned k = random() % 255;
    if (random() % 3 != 0) noisy.SetPixel(i % 300, i / 300, MakeArgb(1 + k, k, 128, k / 2));
  }

  auto table = std::make_unique<ColourTable>();
  auto quantiser = std::make_unique<Quantiser>();
  auto rle = std::make_unique<RleBuffer>();
  Bytes stream;
  std::vector<Bytes> indexes;  // each picture's indexes as the encoder assigns them
  for (const WrittenPicture& p : pictures) {
    WorkImage image;
    LoadPixels(p.picture, image);
    EXPECT_TRUE(CountColours(image, *table, *quantiser).ok);
    EXPECT_TRUE(EncodeRle(image, *table, *rle));
    EXPECT_EQ(AppendDisplaySets(p.placement, p.video, *table, *rle, stream),
              DisplaySetStatus::kWritten);
    Bytes& own = indexes.emplace_back();
    for (std::size_t i = 0; i < image.pixels.size(); i += 4)
      own.push_back(PixelIndex(*table, &image.pixels[i]));
  }
  std::vector<SupDisplaySet> sets;
  std::vector<Bytes> shown;
  ExpectDecodesAsWritten(stream, sets, shown);
  ASSERT_EQ(sets.size(), 2 * pictures.size());
  EXPECT_TRUE(shown == indexes) << "each picture shown once, with the encoder's indexes";
  EXPECT_EQ(indexes[0], Bytes(400, 255));
  EXPECT_EQ(std::tuple(indexes[1][255], indexes[2][20000 + 16383], indexes[2][20000 + 16384]),
            std::tuple(255, 255, 1));
}

// ---- End to end: the built program on real scripts and made ones ----

const fs::path kCorpus = KELPIE_SOURCE_DIR "/../shared/corpus";
using testing::Dialogue;

// The text of the script of that name: the sample, one of the corpus, or one
// made here.
std::string ScriptText(const std::string& name) {
  // 300 positioned lines with equal times: one picture of all of them, its
  // data in many object segments.
  std::string signs = "PlayResX: 1920\n[Events]\n";
  for (int i = 0; i < 300; ++i)
    signs += Dialogue("0:00:01.00", "0:00:04.00",
                      "{\\pos(" + std::to_string(60 + i % 20 * 96) + "," +
                          std::to_string(70 + i / 20 * 70) + ")}" + std::to_string(i));
  if (name == "made-300-signs.ass") return signs;
  // A sign at the top left and dialogue at the bottom of a 3840 x 2160
  // video: one object spanning both would pass what a player holds.
  if (name == "made-2160p-top-and-bottom.ass") {
    return "PlayResX: 3840\nPlayResY: 2160\n[Events]\n" +
           Dialogue("0:00:02.00", "0:00:05.00", "{\\pos(400,120)}A sign at the top left") +
           Dialogue("0:00:02.00", "0:00:05.00",
                    "And a long line of dialogue at the bottom, far from the sign");
  }
  if (name == "made-start-at-zero.ass") {
    return "[Events]\n" + Dialogue("0:00:00.00", "0:00:01.00", "From the very start") +
           Dialogue("0:00:00.03", "0:00:02.00", "{\\pos(300,200)}and a sign");
  }
  return testing::ReadFile(name == "sample.ass" ? KELPIE_SOURCE_DIR "/examples/sample.ass"
                                                : kCorpus / name);
}

std::vector<std::string> Scripts() {
  std::vector<std::string> names = {"sample.ass", "made-300-signs.ass",
                                    "made-2160p-top-and-bottom.ass", "made-start-at-zero.ass"};
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kCorpus, ec))
    if (entry.path().extension() == ".ass") names.push_back(entry.path().filename().string());
  std::sort(names.begin() + 4, names.end());  // the corpus in name order
  return names;
}

class ConvertedScriptTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ConvertedScriptTest, DecodesWithFfmpeg) {
  const std::string name = GetParam();
  // Each script in a folder of its own, removed when it passes, kept when not.
  const fs::path dir = fs::path(KELPIE_BINARY_DIR) / "roundtrip" / name;
  fs::create_directories(dir);
  const fs::path script = dir / name;
  testing::WriteFile(script, ScriptText(name));
  const auto run = testing::RunProgram(KELPIE_BINARY_DIR "/driver/kelpie", {script.string()}, dir);
  EXPECT_TRUE(run.status == 0 && run.err.ends_with("finished\n") &&
              run.out.find("Error") == run.out.npos)
      << run.err << run.out;
  const std::string text = testing::ReadFile(fs::path(script).replace_extension(".sup"));
  std::vector<SupDisplaySet> sets;
  std::vector<Bytes> shown;
  ExpectDecodesAsWritten(Bytes(text.begin(), text.end()), sets, shown);
  // One colour line per picture.
  // One colour line, the only output with a tab, per picture.
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\t'),
            std::count_if(sets.begin(), sets.end(), [](auto& s) { return !s.objects.empty(); }));
  if (name == "made-300-signs.ass") {
    EXPECT_EQ(
        std::pair(sets.size(), sets.at(0).objects.at(0).data.size() > 2 * pgs::kMaxObjectData),
        std::pair(std::size_t{2}, true));
  } else if (name == "made-2160p-top-and-bottom.ass") {
    EXPECT_EQ(std::tuple(sets.size(), sets.at(0).objects.size()), std::tuple(2u, 2u));
  } else if (name == "made-start-at-zero.ass") {
    EXPECT_EQ(std::tuple(sets.at(0).pts, sets.at(0).dts), std::tuple(0u, 0u));
  }
  if (!HasFailure()) fs::remove_all(dir);
}

// Tests named after their script.
std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string id = fs::path(info.param).stem().string();
  for (char& c : id) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return id;
}

INSTANTIATE_TEST_SUITE_P(Scripts, ConvertedScriptTest, ::testing::ValuesIn(Scripts()), TestName);

}  // namespace
}  // namespace kelpie
#endif
