// kelpie-preview: renders the pictures of a script, exactly as the converter
// does before colour reduction, and writes them as PNG files (0000.png,
// 0001.png, ..., one per stretch of time with something on screen), so that
// a person can look at the text, its shadow and its placement.
//
//   kelpie-preview [--screen] script.ass outdir
//   kelpie-preview [--screen] --text TEXT out.png
//
// With --screen every picture is placed on a mid-grey picture of the play
// resolution at its screen position, with a small magenta cross at the anchor
// of each of its events, so centring and clipping can be judged at a glance.
// One line per picture on standard output: file, times, position, size.
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

#include "driver/pipeline.h"
#include "driver/reporter.h"
#include "driver/run_driver.h"
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
ArgbBitmap OnScreen(const ArgbBitmap& picture, const Placement& span, const Plan& plan,
                    const Stretch& stretch) {
  const PlayRes& res = plan.events[stretch.lines.front()].playRes;
  ArgbBitmap screen(res.x, res.y);
  screen.Clear(kScreenBackground);
  screen.DrawOver(picture, span.left, span.top);
  for (int line : stretch.lines) {
    const SubtitleEvent& e = plan.events[line];
    for (int d = -6; d <= 6; ++d) {
      if (e.x + d >= 0 && e.x + d < res.x && e.y >= 0 && e.y < res.y)
        screen.SetPixel(e.x + d, e.y, kAnchorMark);
      if (e.x >= 0 && e.x < res.x && e.y + d >= 0 && e.y + d < res.y)
        screen.SetPixel(e.x, e.y + d, kAnchorMark);
    }
  }
  return screen;
}

// The script's dialogue lines, or the one line of --text.
bool ReadLines(bool text, const std::string& source, std::vector<SubtitleEvent>& events,
               Reporter& reporter) {
  if (text) {
    SubtitleEvent event;
    event.start = 0;
    event.end = 1000;
    event.x = event.playRes.x / 2;
    event.y = event.playRes.y;
    event.line = 1;
    event.text = source;
    for (std::size_t at = 0; (at = event.text.find("\\N", at)) != std::string::npos;) {
      event.text.replace(at, 2, " \n");
    }
    events.push_back(std::move(event));
    return true;
  }
  ScriptFile script;
  if (!script.Open(source)) {
    std::fprintf(stderr, "kelpie-preview: can't open %s\n", source.c_str());
    return false;
  }
  events = ReadEvents(script, source, reporter);
  if (script.readError() != 0) {
    std::fprintf(stderr, "kelpie-preview: can't read %s: %s\n", source.c_str(),
                 std::strerror(script.readError()));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool screen = false;
  bool text = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--screen") == 0) {
      screen = true;
    } else if (std::strcmp(argv[i], "--text") == 0) {
      text = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.size() != 2) {
    std::fprintf(stderr,
                 "usage: kelpie-preview [--screen] script.ass outdir\n"
                 "       kelpie-preview [--screen] --text TEXT out.png\n");
    return 1;
  }
  const std::string& source = text ? std::string("kelpie-preview") : args[0];
  const std::string& out = args[1];
  if (!text) {
    std::error_code error;
    std::filesystem::create_directories(out, error);
    if (error) {
      std::fprintf(stderr, "kelpie-preview: can't make %s: %s\n", out.c_str(),
                   error.message().c_str());
      return 1;
    }
  }
  std::string fontError;
  std::unique_ptr<TextFace> face = TextFace::OpenSubtitleFont(fontError);
  if (face == nullptr) {
    std::fprintf(stderr, "kelpie-preview: can't open font: %s\n", fontError.c_str());
    return 1;
  }
  std::printf("font: %s\n", face->family().c_str());

  Console console;
  Reporter reporter(console);
  std::vector<SubtitleEvent> events;
  if (!ReadLines(text, text ? args[0] : source, events, reporter)) return 1;
  const Plan plan = PlanPictures(std::move(events), *face, reporter, source);
  if (text && plan.timeline.stretches.empty()) {
    std::fprintf(stderr, "kelpie-preview: nothing to draw\n");
    return 1;
  }
  OutputFile noOutput;
  Pipeline pipeline(plan, *face, noOutput, reporter);
  bool ok = true;
  int pictureNumber = 0;
  for (const Stretch& stretch : plan.timeline.stretches) {
    Placement span;
    const ArgbBitmap& picture = pipeline.DrawStretch(stretch, span);
    char name[32];
    std::snprintf(name, sizeof name, "%04d.png", pictureNumber++);
    const std::string path = text ? out : out + "/" + name;
    std::printf("%s  %s to %s  at (%d, %d)  %d x %d, %zu line(s)\n", path.c_str(),
                FormatTime(stretch.start).c_str(), FormatTime(stretch.end).c_str(), span.left,
                span.top, span.width, span.height, stretch.lines.size());
    ok = WritePng(path, screen ? OnScreen(picture, span, plan, stretch) : picture) && ok;
  }
  return ok ? 0 : 1;
}
