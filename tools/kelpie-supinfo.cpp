// kelpie-supinfo: lists the display sets of a PGS stream and, when a
// directory is given, writes every shown picture into it as a PNG file
// (0000.png, 0001.png, ... in stream order).
//
//   kelpie-supinfo file.sup [png-dir]
//
// Every segment is checked; the first malformed one is reported with its
// byte offset and the exit status is 1. The object data of every shown
// picture is decoded, so a broken run-length code is reported the same way.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#if KELPIE_HAVE_PNG
#include <png.h>
#endif

#include "pgs/pgs_format.h"
#include "pgs/sup_reader.h"

namespace {

using namespace kelpie;

bool ReadFile(const char* path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::uint8_t chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

const char* StateName(std::uint8_t state) {
  switch (state) {
    case pgs::kCompositionStateNormal:
      return "normal";
    case pgs::kCompositionStateAcquisitionPoint:
      return "acquisition point";
    case pgs::kCompositionStateEpochStart:
      return "epoch start";
  }
  return "unknown state";
}

std::uint8_t Clamp(double v) {
  const double r = std::round(v);
  return static_cast<std::uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
}

// Full-range YCrCb back to straight RGBA for viewing (approximate inverse of
// the writer's conversion); indexes without an entry are transparent.
void PaletteToRgba(const SupPalette* palette, std::uint8_t rgba[256][4]) {
  std::memset(rgba, 0, 256 * 4);
  if (palette == nullptr) return;
  for (const SupPaletteEntry& e : palette->entries) {
    const double y = e.y;
    const double cr = e.cr - 128.0;
    const double cb = e.cb - 128.0;
    rgba[e.id][0] = Clamp(y + 1.402 * cr);
    rgba[e.id][1] = Clamp(y - 0.344136 * cb - 0.714136 * cr);
    rgba[e.id][2] = Clamp(y + 1.772 * cb);
    rgba[e.id][3] = e.alpha;
  }
}

bool WritePng(const std::string& path, int width, int height,
              const std::vector<std::uint8_t>& rgba) {
#if KELPIE_HAVE_PNG
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr)) {
    std::fprintf(stderr, "kelpie-supinfo: cannot write \"%s\": %s\n", path.c_str(), image.message);
    return false;
  }
  return true;
#else
  (void)width;
  (void)height;
  (void)rgba;
  std::fprintf(stderr, "kelpie-supinfo: built without libpng, \"%s\" not written\n", path.c_str());
  return false;
#endif
}

// Palettes and objects stay defined from one display set to the next until
// the next epoch start.
struct Epoch {
  std::map<int, SupPalette> palettes;
  std::map<int, SupObject> objects;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: kelpie-supinfo file.sup [png-dir]\n");
    return 1;
  }
  const char* pngDir = argc == 3 ? argv[2] : nullptr;
  std::vector<std::uint8_t> bytes;
  if (!ReadFile(argv[1], bytes)) {
    std::fprintf(stderr, "kelpie-supinfo: cannot read \"%s\": %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  std::vector<SupDisplaySet> sets;
  SupError error;
  const bool readOk = ReadSup(bytes.data(), bytes.size(), sets, error);

  Epoch epoch;
  int pictureNumber = 0;
  std::size_t objectBytes = 0;
  for (std::size_t n = 0; n < sets.size(); ++n) {
    const SupDisplaySet& set = sets[n];
    const SupComposition& c = set.composition;
    if (c.state == pgs::kCompositionStateEpochStart) epoch = Epoch{};
    for (const SupPalette& p : set.palettes) epoch.palettes[p.id] = p;
    for (const SupObject& o : set.objects) epoch.objects[o.id] = o;
    std::printf(
        "#%zu @%zu %s %s (pts %u, dts %u): composition %u, %s, video %ux%u, %zu object(s)\n", n,
        set.offset, c.objects.empty() ? "clear" : "show", FormatTicks(set.pts).c_str(), set.pts,
        set.dts, c.number, StateName(c.state), c.videoWidth, c.videoHeight, c.objects.size());
    for (const SupCompositionObject& ref : c.objects) {
      const auto object = epoch.objects.find(ref.objectId);
      const auto palette = epoch.palettes.find(c.paletteId);
      const SupPalette* pal = palette == epoch.palettes.end() ? nullptr : &palette->second;
      if (object == epoch.objects.end()) {
        std::printf("    object %u at %u,%u: not defined\n", ref.objectId, ref.x, ref.y);
        continue;
      }
      const SupObject& o = object->second;
      objectBytes += o.data.size();
      std::printf("    object %u at %u,%u, size %ux%u, palette %u: %zu entries, object %zu bytes\n",
                  ref.objectId, ref.x, ref.y, o.width, o.height, c.paletteId,
                  pal ? pal->entries.size() : 0, o.data.size());
      std::vector<std::uint8_t> indexes;
      SupError rleError;
      if (!DecodeRle(o.data.data(), o.data.size(), o.width, o.height, indexes, rleError)) {
        std::fflush(stdout);
        std::fprintf(stderr, "kelpie-supinfo: %s: offset %zu: object %u run-length data: %s\n",
                     argv[1], o.dataOffset + rleError.offset, o.id, rleError.message.c_str());
        return 1;
      }
      if (pngDir != nullptr) {
        std::uint8_t colours[256][4];
        PaletteToRgba(pal, colours);
        std::vector<std::uint8_t> rgba(indexes.size() * 4);
        for (std::size_t i = 0; i < indexes.size(); ++i) {
          std::memcpy(&rgba[4 * i], colours[indexes[i]], 4);
        }
        char name[32];
        std::snprintf(name, sizeof name, "/%04d.png", pictureNumber);
        if (o.width > 0 && o.height > 0 &&
            !WritePng(std::string(pngDir) + name, o.width, o.height, rgba)) {
          return 1;
        }
      }
      ++pictureNumber;
    }
  }
  std::printf("%zu display set(s), %d picture(s), %zu bytes of object data, %zu bytes\n",
              sets.size(), pictureNumber, objectBytes, bytes.size());
  if (!readOk) {
    std::fflush(stdout);
    std::fprintf(stderr, "kelpie-supinfo: %s: offset %zu: %s\n", argv[1], error.offset,
                 error.message.c_str());
    return 1;
  }
  return 0;
}
