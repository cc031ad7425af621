// Decodes written streams with FFmpeg's PGS decoder (libavcodec) and checks
// that every display set decodes: each shown picture has the size, position
// and times that were written, and its indexes equal, pixel for pixel, those
// of the encoded picture. The first tests write pictures through the writer
// directly; the last ones convert the sample script and every script of the
// shared corpus with the built program.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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
// header's time stamps as packet time stamps. Fails at the first error.
// The decoder refuses an object larger than the video size of its composition
// (and a video size of 0); compositions then announce at least `minVideo`.
bool DecodeWithFfmpeg(const Bytes& stream, std::vector<DecodedSubtitle>& out, std::string& error,
                      pgs::VideoSize minVideo = pgs::VideoSize{0, 0}) {
  out.clear();
  std::vector<SupDisplaySet> sets;
  SupError readError;
  if (!ReadSup(stream.data(), stream.size(), sets, readError)) {
    error = "offset " + std::to_string(readError.offset) + ": " + readError.message;
    return false;
  }
#if KELPIE_HAVE_LIBAV
  av_log_set_level(AV_LOG_ERROR);
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
      if (segment.type == pgs::SegmentType::kComposition && size >= 7) {
        // The video width and height open the composition payload.
        std::uint8_t* video = packet->data + pgs::kSegmentTypeSize + pgs::kPayloadSizeSize;
        const int width = std::max((video[0] << 8) | video[1], minVideo.width);
        const int height = std::max((video[2] << 8) | video[3], minVideo.height);
        video[0] = static_cast<std::uint8_t>(width >> 8);
        video[1] = static_cast<std::uint8_t>(width);
        video[2] = static_cast<std::uint8_t>(height >> 8);
        video[3] = static_cast<std::uint8_t>(height);
      }
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
  return ok;
#else
  (void)minVideo;
  error = "built without libavcodec";
  return false;
#endif
}

struct DecodeCheck {
  int pictures = 0;
  int outsideVideo = 0;  // pictures larger than the video size their composition announces
  int zeroVideo = 0;     // compositions announcing a video width or height of 0
};

// Checks the decoder's output against the stream as our reader sees it:
// every show set gives one picture with the written size, position, time and
// indexes (the object's own run-length data decoded), every clear set an
// empty subtitle at its time. Pictures that FFmpeg refuses for the video
// size alone are counted, and checked with a video size large enough.
DecodeCheck ExpectDecodesAsWritten(const Bytes& stream, const std::string& name) {
  DecodeCheck check;
  std::vector<SupDisplaySet> sets;
  SupError readError;
  EXPECT_TRUE(ReadSup(stream.data(), stream.size(), sets, readError))
      << name << ": offset " << readError.offset << ": " << readError.message;
  pgs::VideoSize minVideo{1, 1};
  for (const SupDisplaySet& set : sets) {
    const SupComposition& c = set.composition;
    if (c.videoWidth == 0 || c.videoHeight == 0) ++check.zeroVideo;
    for (const SupObject& o : set.objects) {
      minVideo.width = std::max<std::int32_t>(minVideo.width, o.width);
      minVideo.height = std::max<std::int32_t>(minVideo.height, o.height);
      if (o.width > c.videoWidth || o.height > c.videoHeight) ++check.outsideVideo;
    }
  }
  if (check.outsideVideo == 0 && check.zeroVideo == 0) minVideo = pgs::VideoSize{0, 0};
  std::vector<DecodedSubtitle> decoded;
  std::string error;
  EXPECT_TRUE(DecodeWithFfmpeg(stream, decoded, error, minVideo)) << name << ": " << error;
  EXPECT_EQ(decoded.size(), sets.size()) << name;
  for (std::size_t i = 0; i < std::min(decoded.size(), sets.size()); ++i) {
    const SupDisplaySet& set = sets[i];
    const DecodedSubtitle& got = decoded[i];
    EXPECT_EQ(got.pts, TicksToDecoderTime(set.pts)) << name << " set " << i;
    if (set.composition.objects.empty()) {
      EXPECT_TRUE(got.rects.empty()) << name << " set " << i;
      continue;
    }
    ++check.pictures;
    EXPECT_EQ(set.composition.objects.size(), 1u) << name << " set " << i;
    EXPECT_EQ(set.objects.size(), 1u) << name << " set " << i;
    if (got.rects.size() != 1 || set.objects.size() != 1) {
      ADD_FAILURE() << name << " set " << i << ": " << got.rects.size() << " rectangles";
      continue;
    }
    const DecodedRect& rect = got.rects[0];
    const SupObject& object = set.objects[0];
    EXPECT_EQ(rect.x, set.composition.objects[0].x) << name << " set " << i;
    EXPECT_EQ(rect.y, set.composition.objects[0].y) << name << " set " << i;
    EXPECT_EQ(rect.width, object.width) << name << " set " << i;
    EXPECT_EQ(rect.height, object.height) << name << " set " << i;
    Bytes indexes;
    SupError rleError;
    EXPECT_TRUE(DecodeRle(object.data.data(), object.data.size(), object.width, object.height,
                          indexes, rleError))
        << name << " set " << i << ": " << rleError.message;
    EXPECT_TRUE(rect.indexes == indexes) << name << " set " << i << ": indexes differ";
    // The decoder keeps each defined entry's alpha.
    if (set.palettes.size() == 1) {
      for (const SupPaletteEntry& entry : set.palettes[0].entries) {
        if (entry.id < rect.palette.size()) {
          EXPECT_EQ(rect.palette[entry.id] >> 24, entry.alpha) << name << " entry " << +entry.id;
        }
      }
    }
  }
  return check;
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
  // Random text-like picture: transparent background, 255 colours with
  // partial alpha, after 6 h 37 min (time stamps above 2^31).
  std::mt19937 random(7);
  WrittenPicture noisy = Picture(300, 60, {5, 6, 0, 0, 24000000, 24000500});
  for (int y = 0; y < 60; ++y) {
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
  const DecodeCheck check = ExpectDecodesAsWritten(stream, "writer");
  EXPECT_EQ(check.pictures, 4);
  EXPECT_EQ(check.outsideVideo, 0);

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

// ---- End to end: the built program on real scripts ----

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// What the program printed about one group.
struct GroupReport {
  std::uint32_t start = 0;  // 90 kHz ticks of the printed times
  std::uint32_t end = 0;
  int posX = 0;
  int posY = 0;
};

std::int32_t Milliseconds(int h, int m, int s, int ms) {
  return ((h * 60 + m) * 60 + s) * 1000 + ms;
}

fs::path CorpusDir() {
  return fs::path(KELPIE_SOURCE_DIR) / ".." / "shared" / "corpus";
}

std::vector<std::string> Scripts() {
  std::vector<std::string> names = {"sample.ass"};
  std::vector<std::string> corpus;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(CorpusDir(), ec)) {
    if (entry.path().extension() == ".ass") corpus.push_back(entry.path().filename().string());
  }
  std::sort(corpus.begin(), corpus.end());
  names.insert(names.end(), corpus.begin(), corpus.end());
  return names;
}

fs::path ScriptSource(const std::string& name) {
  if (name == "sample.ass") return fs::path(KELPIE_SOURCE_DIR) / "examples" / name;
  return CorpusDir() / name;
}

class ConvertedScriptTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ConvertedScriptTest, DecodesWithFfmpeg) {
  REQUIRE_LIBAV();
  const std::string name = GetParam();
  const fs::path program = fs::path(KELPIE_BINARY_DIR) / "driver" / "kelpie";
  ASSERT_TRUE(fs::exists(program)) << program;
  const fs::path source = ScriptSource(name);
  ASSERT_TRUE(fs::exists(source)) << source;

  std::string pattern = (fs::temp_directory_path() / "kelpie-roundtrip-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  struct RemoveDir {
    fs::path path;
    ~RemoveDir() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } removeDir{dir};
  const fs::path script = dir / name;
  fs::copy_file(source, script);
  const fs::path sup = fs::path(script).replace_extension(".sup");
  const std::string command = "'" + program.string() + "' '" + script.string() + "' </dev/null >'" +
                              (dir / "out.txt").string() + "' 2>'" + (dir / "err.txt").string() +
                              "'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << command;
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadText(dir / "err.txt");
  const std::string out = ReadText(dir / "out.txt");
  const std::string err = ReadText(dir / "err.txt");
  EXPECT_TRUE(err.size() >= 9 && err.compare(err.size() - 9, 9, "finished\n") == 0) << err;
  ASSERT_TRUE(fs::exists(sup));
  const std::string text = ReadText(sup);
  const Bytes stream(text.begin(), text.end());

  const DecodeCheck check = ExpectDecodesAsWritten(stream, name);
  const int pictures = check.pictures;

  // Standard output: a colour line per counted picture, followed by the size
  // error when its data was too long. The others are written, in order.
  std::vector<std::pair<int, int>> sizes;
  std::size_t colourErrors = 0;
  std::size_t sizeErrors = 0;
  for (const std::string& line : Lines(out)) {
    int number, colours, width, height;
    if (std::sscanf(line.c_str(), "\tImage[%d] has %d color(s); size: %dx%d", &number, &colours,
                    &width, &height) == 4) {
      sizes.emplace_back(width, height);
    } else if (line.rfind("Error: subtitle picture is very complicated.", 0) == 0) {
      ASSERT_FALSE(sizes.empty());
      sizes.pop_back();
      ++sizeErrors;
    } else if (line.rfind("Error: the png file", 0) == 0) {
      ++colourErrors;
    }
  }
  // Standard error: every group's times and position.
  std::vector<GroupReport> groups;
  for (const std::string& line : Lines(err)) {
    int h0, m0, s0, ms0, h1, m1, s1, ms1, x, y;
    if (std::sscanf(line.c_str(), "<subtitle starttime=\"%d:%d:%d.%d\" endtime=\"%d:%d:%d.%d\"",
                    &h0, &m0, &s0, &ms0, &h1, &m1, &s1, &ms1) == 8) {
      GroupReport g;
      g.start = TimeStamp(Milliseconds(h0, m0, s0, ms0));
      g.end = TimeStamp(Milliseconds(h1, m1, s1, ms1));
      groups.push_back(g);
    } else if (std::sscanf(line.c_str(), "\toffset=\"%d,%d\"", &x, &y) == 2) {
      ASSERT_FALSE(groups.empty());
      groups.back().posX = x;
      groups.back().posY = y;
    }
  }

  std::vector<SupDisplaySet> sets;
  SupError error;
  ASSERT_TRUE(ReadSup(stream.data(), stream.size(), sets, error)) << error.message;
  ASSERT_EQ(sets.size() % 2, 0u);
  ASSERT_EQ(sets.size() / 2, sizes.size()) << name << ": pictures written and colour lines";
  // Each written picture belongs to a later group than the one before, with
  // that group's times and position.
  std::size_t g = 0;
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const SupDisplaySet& show = sets[2 * i];
    const SupDisplaySet& clear = sets[2 * i + 1];
    ASSERT_EQ(show.objects.size(), 1u);
    EXPECT_EQ(show.objects[0].width, sizes[i].first) << name << " picture " << i;
    EXPECT_EQ(show.objects[0].height, sizes[i].second) << name << " picture " << i;
    bytes += show.objects[0].data.size();
    const SupCompositionObject& at = show.composition.objects.at(0);
    while (g < groups.size() && !(groups[g].start == show.pts && groups[g].end == clear.pts &&
                                  groups[g].posX == at.x && groups[g].posY == at.y)) {
      ++g;
    }
    ASSERT_LT(g, groups.size()) << name << " picture " << i << " at " << FormatTicks(show.pts)
                                << " matches no group's times and position";
    ++g;
  }
  EXPECT_EQ(pictures, static_cast<int>(sizes.size()));
  // Pictures wider or taller than the script's play resolution, and a play
  // resolution of 0, are written as the program always wrote them; FFmpeg
  // refuses such objects, so they were checked with a larger video size.
  std::printf(
      "%s: %zu bytes, %d pictures (%zu bytes of object data) from %zu groups; %zu colour "
      "errors, %zu size errors; %d pictures larger than the video, %d compositions of video "
      "size 0\n",
      name.c_str(), stream.size(), pictures, bytes, groups.size(), colourErrors, sizeErrors,
      check.outsideVideo, check.zeroVideo);
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
