// kelpie-preview: renders the group pictures of a script, exactly as the
// converter does before colour reduction, and writes them as PNG files
// (0000.png, 0001.png, ... for the groups that have something to draw), so
// that a person can look at the text, its shadow and its placement.
//
//   kelpie-preview [--screen] script.ass outdir
//   kelpie-preview [--screen] --text TEXT out.png
//
// With --screen every picture is placed on a mid-grey picture of the play
// resolution at its screen position, with a small magenta cross at the anchor
// of each of its events, so centring and clipping can be judged at a glance.
// One line per group on standard output: file, times, position, size.
//
// With --text, TEXT (UTF-8; "\N" starts a new line, as in a script) is drawn
// as one dialogue line without override tags would be, white with its shadow
// at the bottom centre of a 1440 x 1080 screen, into the one file out.png:
// a quick look at how a line of some script will come out. Characters that
// no installed font has are named on standard error.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/event_grouper.h"
#include "driver/reporter.h"
#include "driver/script_reader.h"
#include "platform/bitmap.h"
#include "platform/script_file.h"
#include "platform/text_face.h"
#include "render/compositor.h"

namespace {

using namespace kelpie;

constexpr Argb kScreenBackground = 0xFF404040;
constexpr Argb kAnchorMark = 0xFFFF00FF;

bool WritePng(const std::string& path, const ArgbBitmap& picture) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(picture.width()) * picture.height() * 4);
  std::uint8_t* p = rgba.data();
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x, p += 4) {
      const Argb c = picture.Pixel(x, y);  // PNG alpha is straight, like ours
      p[0] = static_cast<std::uint8_t>(RedOf(c));
      p[1] = static_cast<std::uint8_t>(GreenOf(c));
      p[2] = static_cast<std::uint8_t>(BlueOf(c));
      p[3] = static_cast<std::uint8_t>(AlphaOf(c));
    }
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width());
  image.height = static_cast<png_uint_32>(picture.height());
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr)) {
    std::fprintf(stderr, "kelpie-preview: can't write %s: %s\n", path.c_str(), image.message);
    return false;
  }
  return true;
}

// The picture on a screen of the play resolution, anchors marked.
ArgbBitmap OnScreen(const GroupPicture& p, const std::vector<SubtitleEvent>& group,
                    const PlayRes& res) {
  ArgbBitmap screen(res.x, res.y);
  screen.Clear(kScreenBackground);
  screen.DrawOver(p.picture, static_cast<int>(p.posX), static_cast<int>(p.posY));
  for (const SubtitleEvent& e : group) {
    for (int d = -6; d <= 6; ++d) {
      if (e.x + d >= 0 && e.x + d < res.x && e.y >= 0 && e.y < res.y)
        screen.SetPixel(e.x + d, e.y, kAnchorMark);
      if (e.x >= 0 && e.x < res.x && e.y + d >= 0 && e.y + d < res.y)
        screen.SetPixel(e.x, e.y + d, kAnchorMark);
    }
  }
  return screen;
}

// Names each character of `face` that no installed font has, once per script.
void WarnMissing(TextFace& face, const std::string& where) {
  for (const char32_t c : face.TakeMissingCharacters()) {
    std::fprintf(stderr, "%s: %s\n", where.c_str(), MissingFontMessage(c).c_str());
  }
}

// The picture of one line of text, as the converter would draw a dialogue
// line with that text and no override tags.
int PreviewText(std::string text, const std::string& pngPath, bool screen) {
  for (std::size_t at = 0; (at = text.find("\\N", at)) != std::string::npos;) {
    text.replace(at, 2, " \n");
  }
  std::string fontError;
  std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(&fontError);
  if (face == nullptr) {
    std::fprintf(stderr, "kelpie-preview: can't open font: %s\n", fontError.c_str());
    return 1;
  }
  const PlayRes res;
  SubtitleEvent event;
  event.x = res.x / 2;
  event.y = res.y;
  event.text = std::move(text);
  const std::vector<SubtitleEvent> group = {event};
  const GroupPicture p = RenderGroup(group, *face, res);
  WarnMissing(*face, "kelpie-preview");
  if (p.kind != GroupPicture::Kind::kPicture) {
    std::fprintf(stderr, "kelpie-preview: %s\n",
                 p.kind == GroupPicture::Kind::kNothing ? "nothing to draw" : "too large");
    return 1;
  }
  std::printf("font: %s\n%s  at (%lld, %lld)  %d x %d\n", face->family().c_str(), pngPath.c_str(),
              static_cast<long long>(p.posX), static_cast<long long>(p.posY), p.picture.width(),
              p.picture.height());
  return WritePng(pngPath, screen ? OnScreen(p, group, res) : p.picture) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool screen = false;
  bool text = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--screen") == 0)
      screen = true;
    else if (std::strcmp(argv[i], "--text") == 0)
      text = true;
    else
      args.push_back(argv[i]);
  }
  if (args.size() != 2) {
    std::fprintf(stderr,
                 "usage: kelpie-preview [--screen] script.ass outdir\n"
                 "       kelpie-preview [--screen] --text TEXT out.png\n");
    return 1;
  }
  if (text) return PreviewText(args[0], args[1], screen);
  const std::string& scriptPath = args[0];
  const std::string& outDir = args[1];

  ScriptFile script;
  if (!script.Open(scriptPath)) {
    std::fprintf(stderr, "kelpie-preview: can't open %s\n", scriptPath.c_str());
    return 1;
  }
  std::error_code error;
  std::filesystem::create_directories(outDir, error);
  if (error) {
    std::fprintf(stderr, "kelpie-preview: can't make %s: %s\n", outDir.c_str(),
                 error.message().c_str());
    return 1;
  }
  std::string fontError;
  std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(&fontError);
  if (face == nullptr) {
    std::fprintf(stderr, "kelpie-preview: can't open font: %s\n", fontError.c_str());
    return 1;
  }
  std::printf("font: %s\n", face->family().c_str());

  PlayRes res;
  EventGrouper grouper;
  std::vector<SubtitleEvent> group;
  int pictureNumber = 0;
  bool ok = true;
  auto preview = [&](const std::vector<SubtitleEvent>& g) {
    const GroupPicture p = RenderGroup(g, *face, res);
    WarnMissing(*face, scriptPath);
    const std::string times = FormatTime(g.front().start) + " to " + FormatTime(g.front().end);
    switch (p.kind) {
      case GroupPicture::Kind::kNothing:
        std::printf("-         %s  nothing to draw\n", times.c_str());
        return;
      case GroupPicture::Kind::kTooLarge:
        std::printf("-         %s  %lld x %lld at (%lld, %lld): too large, left out\n",
                    times.c_str(), static_cast<long long>(p.width),
                    static_cast<long long>(p.height), static_cast<long long>(p.posX),
                    static_cast<long long>(p.posY));
        return;
      case GroupPicture::Kind::kPicture:
        break;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%04d.png", pictureNumber++);
    std::printf("%s  %s  at (%lld, %lld)  %d x %d, %zu event(s)\n", name, times.c_str(),
                static_cast<long long>(p.posX), static_cast<long long>(p.posY), p.picture.width(),
                p.picture.height(), g.size());
    const std::string path = outDir + "/" + name;
    const bool fitsScreen = static_cast<std::int64_t>(res.x) * res.y * 4 <= kMaxCanvasBytes;
    if (screen && fitsScreen) {
      ok = WritePng(path, OnScreen(p, g, res)) && ok;
    } else {
      ok = WritePng(path, p.picture) && ok;
    }
  };

  std::string line;
  std::string warning;
  SubtitleEvent event;
  while (script.NextLine(&line)) {
    const LineKind kind = ReadScriptLine(line, res, &event, &warning);
    if (!warning.empty()) {
      std::fprintf(stderr, "%s:%ld: %s\n", scriptPath.c_str(), script.line_number(),
                   warning.c_str());
    }
    if (kind == LineKind::kEvent && grouper.Add(std::move(event), &group)) preview(group);
  }
  if (grouper.Finish(&group)) preview(group);
  if (script.read_error() != 0) {
    std::fprintf(stderr, "kelpie-preview: can't read %s: %s\n", scriptPath.c_str(),
                 std::strerror(script.read_error()));
    return 1;
  }
  return ok ? 0 : 1;
}
