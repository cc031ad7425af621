// Decodes written streams with FFmpeg's PGS decoder (libavcodec), exactly as
// written, and checks that every display set decodes: each shown object has
// the size, position and times that were written, and its indexes equal,
// pixel for pixel, those of the encoded picture. The first test writes
// pictures through the writer directly; the others convert the sample
// script, every script of the shared corpus and a few made here (large
// pictures, a line at the very start) with the built program.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "colour/colour_table.h"
#include "colour/pixel_buffer.h"
#include "pgs/display_set_writer.h"
#include "pgs/pgs_format.h"
#include "pgs/rle_encoder.h"
#include "pgs/sup_reader.h"
#include "tests/file_helpers.h"

#if KELPIE_HAVE_LIBAV
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}
#endif

namespace kelpie {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

#if KELPIE_HAVE_LIBAV
#define REQUIRE_LIBAV()
#else
#define REQUIRE_LIBAV() \
  GTEST_SKIP() << "libavcodec was not found when this test was built; install libavcodec-dev"
#endif

// One picture as the decoder gives it.
struct DecodedRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  Bytes indexes;                       // width * height, rows without padding
  std::vector<std::uint32_t> palette;  // ARGB as the decoder converts it
};

// One decoded display set: a shown picture, or a clear (no rectangles).
struct DecodedSubtitle {
  std::int64_t pts = 0;  // microseconds
  std::vector<DecodedRect> rects;
};

// What the decoder logged during the last DecodeWithFfmpeg.
std::string& DecoderMessages() {
  static std::string messages;
  return messages;
}

// 90 kHz ticks as the decoder reports them (microseconds).
std::int64_t TicksToDecoderTime(std::uint32_t ticks) {
#if KELPIE_HAVE_LIBAV
  return av_rescale_q(ticks, AVRational{1, 90000}, AV_TIME_BASE_Q);
#else
  return ticks;
#endif
}

// Feeds every segment of `stream` to FFmpeg's decoder as one packet, the way
// its demuxer delivers a ".sup": the segment type, size and payload, with the
// header's time stamps as packet time stamps. Fails at the first error; any
// message the decoder logs at warning level or above counts as one.
bool DecodeWithFfmpeg(const Bytes& stream, std::vector<DecodedSubtitle>& out, std::string& error) {
  out.clear();
  std::vector<SupDisplaySet> sets;
  SupError readError;
  if (!ReadSup(stream.data(), stream.size(), sets, readError)) {
    error = "offset " + std::to_string(readError.offset) + ": " + readError.message;
    return false;
  }
#if KELPIE_HAVE_LIBAV
  av_log_set_level(AV_LOG_WARNING);
  av_log_set_callback([](void*, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING) return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    DecoderMessages() += text;
  });
  DecoderMessages().clear();
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HDMV_PGS_SUBTITLE);
  if (codec == nullptr) {
    error = "no PGS decoder in libavcodec";
    return false;
  }
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->pkt_timebase = AVRational{1, 90000};
  bool ok = avcodec_open2(context, codec, nullptr) >= 0;
  if (!ok) error = "cannot open the PGS decoder";
  AVPacket* packet = av_packet_alloc();
  for (const SupDisplaySet& set : sets) {
    for (const SupSegment& segment : set.segments) {
      if (!ok) break;
      const int size = pgs::kSegmentTypeSize + pgs::kPayloadSizeSize + segment.size;
      av_packet_unref(packet);
      if (av_new_packet(packet, size) < 0) {
        error = "out of memory";
        ok = false;
        break;
      }
      std::copy_n(stream.data() + segment.offset + pgs::kSegmentTypeOffset, size, packet->data);
      packet->pts = segment.pts;
      packet->dts = segment.dts;
      AVSubtitle subtitle{};
      int got = 0;
      const int used = avcodec_decode_subtitle2(context, &subtitle, &got, packet);
      if (used < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(used, text, sizeof text);
        error = "segment at offset " + std::to_string(segment.offset) + ": " + text;
        ok = false;
        break;
      }
      if (!got) continue;
      DecodedSubtitle decoded;
      decoded.pts = subtitle.pts;
      for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        const AVSubtitleRect* r = subtitle.rects[i];
        DecodedRect rect;
        rect.x = r->x;
        rect.y = r->y;
        rect.width = r->w;
        rect.height = r->h;
        for (int row = 0; row < r->h; ++row) {
          const std::uint8_t* line = r->data[0] + static_cast<std::ptrdiff_t>(row) * r->linesize[0];
          rect.indexes.insert(rect.indexes.end(), line, line + r->w);
        }
        const auto* palette = reinterpret_cast<const std::uint32_t*>(r->data[1]);
        rect.palette.assign(palette, palette + r->nb_colors);
        decoded.rects.push_back(std::move(rect));
      }
      avsubtitle_free(&subtitle);
      out.push_back(std::move(decoded));
    }
  }
  av_packet_free(&packet);
  avcodec_free_context(&context);
  if (ok && !DecoderMessages().empty()) {
    error = "the decoder said: " + DecoderMessages();
    ok = false;
  }
  return ok;
#else
  error = "built without libavcodec";
  return false;
#endif
}

// Checks the decoder's output against the stream as our reader sees it:
// every show set gives one rectangle per object with the written size,
// position and indexes (the object's own run-length data decoded), every
// clear set an empty subtitle at its time; display sets come in time order
// and every object lies inside the video. Returns the number of pictures.
int ExpectDecodesAsWritten(const Bytes& stream, const std::string& name) {
  std::vector<SupDisplaySet> sets;
  SupError readError;
  EXPECT_TRUE(ReadSup(stream.data(), stream.size(), sets, readError))
      << name << ": offset " << readError.offset << ": " << readError.message;
  std::vector<DecodedSubtitle> decoded;
  std::string error;
  EXPECT_TRUE(DecodeWithFfmpeg(stream, decoded, error)) << name << ": " << error;
  EXPECT_EQ(decoded.size(), sets.size()) << name;
  int pictures = 0;
  for (std::size_t i = 0; i < std::min(decoded.size(), sets.size()); ++i) {
    const SupDisplaySet& set = sets[i];
    const DecodedSubtitle& got = decoded[i];
    const std::string where = name + " set " + std::to_string(i);
    EXPECT_EQ(got.pts, TicksToDecoderTime(set.pts)) << where;
    EXPECT_LE(set.dts, set.pts) << where;
    if (i > 0) {
      EXPECT_GE(set.pts, sets[i - 1].pts) << where << ": back in time";
    }
    EXPECT_EQ(got.rects.size(), set.composition.objects.size()) << where;
    if (got.rects.size() != set.composition.objects.size()) continue;
    pictures += !got.rects.empty();
    for (std::size_t k = 0; k < got.rects.size(); ++k) {
      const SupCompositionObject& at = set.composition.objects[k];
      const auto object = std::find_if(set.objects.begin(), set.objects.end(),
                                       [&at](const SupObject& o) { return o.id == at.objectId; });
      if (object == set.objects.end()) {
        ADD_FAILURE() << where << ": no object " << at.objectId;
        continue;
      }
      const DecodedRect& rect = got.rects[k];
      EXPECT_EQ(rect.x, at.x) << where;
      EXPECT_EQ(rect.y, at.y) << where;
      EXPECT_EQ(rect.width, object->width) << where;
      EXPECT_EQ(rect.height, object->height) << where;
      EXPECT_LE(at.x + object->width, set.composition.videoWidth) << where;
      EXPECT_LE(at.y + object->height, set.composition.videoHeight) << where;
      Bytes indexes;
      SupError rleError;
      EXPECT_TRUE(DecodeRle(object->data.data(), object->data.size(), object->width, object->height,
                            indexes, rleError))
          << where << ": " << rleError.message;
      EXPECT_TRUE(rect.indexes == indexes) << where << ": indexes differ";
      // The decoder keeps each defined entry's alpha.
      for (const SupPaletteEntry& entry : set.palettes.at(0).entries) {
        if (entry.id < rect.palette.size()) {
          EXPECT_EQ(rect.palette[entry.id] >> 24, entry.alpha) << where << " entry " << +entry.id;
        }
      }
    }
  }
  return pictures;
}

// A picture put through the colour count, the encoder and the writer.
struct WrittenPicture {
  int width = 0;
  int height = 0;
  Bytes rgba;
  PicturePlacement placement;
  pgs::VideoSize video;
};

// Writes the pictures one after the other and returns the stream; `indexes`
// receives each picture's pixel indexes as the encoder assigns them.
Bytes WriteStream(const std::vector<WrittenPicture>& pictures, std::vector<Bytes>& indexes) {
  auto table = std::make_unique<ColourTable>();
  auto quantiser = std::make_unique<Quantiser>();
  auto rle = std::make_unique<RleBuffer>();
  Bytes stream;
  for (const WrittenPicture& p : pictures) {
    WorkImage image;
    LoadRgbaPixels(p.width, p.height, p.rgba.data(), image);
    EXPECT_TRUE(CountColours(image, *table, *quantiser).ok);
    EXPECT_TRUE(EncodeRle(image, *table, *rle));
    PicturePlacement placement = p.placement;
    placement.width = p.width;
    placement.height = p.height;
    EXPECT_EQ(AppendDisplaySets(placement, p.video, *table, *rle, stream),
              DisplaySetStatus::kWritten);
    Bytes own;
    for (std::size_t i = 0; i < p.rgba.size(); i += 4)
      own.push_back(PixelIndex(*table, &p.rgba[i]));
    indexes.push_back(std::move(own));
  }
  return stream;
}

WrittenPicture Picture(int width, int height, PicturePlacement placement,
                       pgs::VideoSize video = pgs::VideoSize{1920, 1080}) {
  WrittenPicture p;
  p.width = width;
  p.height = height;
  p.rgba.assign(static_cast<std::size_t>(width) * height * 4, 0);
  p.placement = placement;
  p.video = video;
  return p;
}

void SetPixel(WrittenPicture& p, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b,
              std::uint8_t a) {
  std::uint8_t* px = &p.rgba[(static_cast<std::size_t>(y) * p.width + x) * 4];
  px[0] = r;
  px[1] = g;
  px[2] = b;
  px[3] = a;
}

TEST(FfmpegRoundTripTest, PicturesFromTheWriter) {
  REQUIRE_LIBAV();
  std::vector<WrittenPicture> pictures;
  // Fully transparent: an empty palette, every pixel index 255.
  pictures.push_back(Picture(40, 10, {10, 20, 0, 0, 0, 1000}));
  // 256 opaque colours: index 255 is a colour.
  WrittenPicture full = Picture(16, 16, {300, 400, 0, 0, 1500, 2500});
  for (int i = 0; i < 256; ++i) {
    SetPixel(full, i % 16, i / 16, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7),
             static_cast<std::uint8_t>(255 - i), 255);
  }
  pictures.push_back(full);
  // Runs longer than 16383 pixels, in a video wide enough for the decoder.
  WrittenPicture wide = Picture(20000, 3, {0, 5, 0, 0, 3000, 4000}, pgs::VideoSize{20000, 100});
  for (int x = 0; x < 20000; ++x) {
    SetPixel(wide, x, 0, 9, 9, 9, 255);                          // one colour
    if (x >= 16384) SetPixel(wide, x, 1, 200, 0, 0, 255);        // clear, then a colour
    SetPixel(wide, x, 2, 0, 0, 0, x < 17000 || x % 3 ? 0 : 90);  // long clear, then short runs
  }
  pictures.push_back(wide);
  // Random picture: transparent background, 255 colours with partial alpha,
  // runs so short that its data takes three object segments; after
  // 6 h 37 min (time stamps above 2^31).
  std::mt19937 random(7);
  WrittenPicture noisy = Picture(300, 200, {5, 6, 0, 0, 24000000, 24000500});
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 300; ++x) {
      if (random() % 3 == 0) continue;
      const int k = static_cast<int>(random() % 255);
      SetPixel(noisy, x, y, static_cast<std::uint8_t>(k), 128, static_cast<std::uint8_t>(k / 2),
               static_cast<std::uint8_t>(1 + k % 255));
    }
  }
  pictures.push_back(noisy);

  std::vector<Bytes> indexes;
  const Bytes stream = WriteStream(pictures, indexes);
  EXPECT_EQ(ExpectDecodesAsWritten(stream, "writer"), 4);
  std::vector<SupDisplaySet> sets;
  SupError readError;
  ASSERT_TRUE(ReadSup(stream.data(), stream.size(), sets, readError));
  EXPECT_EQ(sets[6].segments.size(), 4u + 3u) << "the noisy picture's object in three segments";

  std::vector<DecodedSubtitle> decoded;
  std::string error;
  ASSERT_TRUE(DecodeWithFfmpeg(stream, decoded, error)) << error;
  ASSERT_EQ(decoded.size(), 2 * pictures.size());
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const PicturePlacement& placement = pictures[i].placement;
    const DecodedSubtitle& show = decoded[2 * i];
    const DecodedSubtitle& clear = decoded[2 * i + 1];
    EXPECT_EQ(show.pts, TicksToDecoderTime(TimeStamp(placement.start))) << i;
    EXPECT_EQ(clear.pts, TicksToDecoderTime(TimeStamp(placement.end))) << i;
    EXPECT_TRUE(clear.rects.empty()) << i;
    ASSERT_EQ(show.rects.size(), 1u) << i;
    EXPECT_EQ(show.rects[0].x, placement.posX) << i;
    EXPECT_EQ(show.rects[0].y, placement.posY) << i;
    EXPECT_EQ(show.rects[0].width, pictures[i].width) << i;
    EXPECT_EQ(show.rects[0].height, pictures[i].height) << i;
    EXPECT_TRUE(show.rects[0].indexes == indexes[i]) << "picture " << i << ": indexes differ";
  }
  EXPECT_EQ(indexes[0], Bytes(400, 255));
  EXPECT_EQ(indexes[1][255], 255);
  EXPECT_EQ(indexes[2][20000 + 16383], 255);
  EXPECT_EQ(indexes[2][20000 + 16384], 1);
}

// ---- End to end: the built program on real scripts and made ones ----

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path CorpusDir() {
  return fs::path(KELPIE_SOURCE_DIR) / ".." / "shared" / "corpus";
}

std::string Dialogue(const char* start, const char* end, const std::string& text) {
  return std::string("Dialogue: 0,") + start + "," + end + ",Default,,0,0,0,," + text + "\n";
}

// Scripts made here, by name.
std::string MadeScript(const std::string& name) {
  std::string script = "[Events]\n";
  if (name == "made-300-signs.ass") {
    // 300 positioned lines with equal times: one picture of all of them,
    // its data in many object segments.
    script = "PlayResX: 1920\n" + script;
    for (int i = 0; i < 300; ++i) {
      script += Dialogue("0:00:01.00", "0:00:04.00",
                         "{\\pos(" + std::to_string(60 + i % 20 * 96) + "," +
                             std::to_string(70 + i / 20 * 70) + ")}" + std::to_string(i));
    }
  } else if (name == "made-2160p-top-and-bottom.ass") {
    // A sign at the top left and dialogue at the bottom of a 3840 x 2160
    // video: one object spanning both would pass what a player holds.
    script = "PlayResX: 3840\nPlayResY: 2160\n" + script +
             Dialogue("0:00:02.00", "0:00:05.00", "{\\pos(400,120)}A sign at the top left") +
             Dialogue("0:00:02.00", "0:00:05.00",
                      "And a long line of dialogue at the bottom, far from the sign");
  } else if (name == "made-start-at-zero.ass") {
    script += Dialogue("0:00:00.00", "0:00:01.00", "From the very start") +
              Dialogue("0:00:00.03", "0:00:02.00", "{\\pos(300,200)}and a sign");
  }
  return script;
}

std::vector<std::string> Scripts() {
  std::vector<std::string> names = {"sample.ass", "made-300-signs.ass",
                                    "made-2160p-top-and-bottom.ass", "made-start-at-zero.ass"};
  std::vector<std::string> corpus;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(CorpusDir(), ec)) {
    if (entry.path().extension() == ".ass") corpus.push_back(entry.path().filename().string());
  }
  std::sort(corpus.begin(), corpus.end());
  names.insert(names.end(), corpus.begin(), corpus.end());
  return names;
}

class ConvertedScriptTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ConvertedScriptTest, DecodesWithFfmpeg) {
  REQUIRE_LIBAV();
  const std::string name = GetParam();
  const fs::path program = fs::path(KELPIE_BINARY_DIR) / "driver" / "kelpie";
  std::string pattern = (fs::temp_directory_path() / "kelpie-roundtrip-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  struct RemoveDir {
    fs::path path;
    ~RemoveDir() { fs::remove_all(path); }
  } removeDir{dir};
  const fs::path script = dir / name;
  if (name.starts_with("made-")) {
    std::ofstream(script) << MadeScript(name);
  } else {
    fs::copy_file(
        name == "sample.ass" ? fs::path(KELPIE_SOURCE_DIR) / "examples" / name : CorpusDir() / name,
        script);
  }
  const auto run = testing::RunProgram(program.c_str(), {script.string()}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.err.ends_with("finished\n")) << run.err;
  EXPECT_EQ(run.out.find("left out"), std::string::npos) << run.out;
  const std::string text = ReadText(fs::path(script).replace_extension(".sup"));
  const Bytes stream(text.begin(), text.end());
  const int pictures = ExpectDecodesAsWritten(stream, name);
  // One colour line per picture.
  int colourLines = 0;
  for (std::size_t at = 0; (at = run.out.find("\tImage[", at)) != std::string::npos; ++at) {
    ++colourLines;
  }
  EXPECT_EQ(colourLines, pictures) << name;

  std::vector<SupDisplaySet> sets;
  SupError error;
  ASSERT_TRUE(ReadSup(stream.data(), stream.size(), sets, error)) << error.message;
  if (name == "made-300-signs.ass") {
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_GT(sets[0].objects.at(0).data.size(), std::size_t{2} * pgs::kMaxObjectData);
  } else if (name == "made-2160p-top-and-bottom.ass") {
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].objects.size(), 2u);
  } else if (name == "made-start-at-zero.ass") {
    ASSERT_GE(sets.size(), 2u);
    EXPECT_EQ(sets[0].pts, 0u);
    EXPECT_EQ(sets[0].dts, 0u);
  }
  std::printf("%s: %zu bytes, %d pictures\n", name.c_str(), stream.size(), pictures);
}

INSTANTIATE_TEST_SUITE_P(Scripts, ConvertedScriptTest, ::testing::ValuesIn(Scripts()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string id = info.param.substr(0, info.param.size() - 4);
                           for (char& c : id) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return id;
                         });

}  // namespace
}  // namespace kelpie
