#include "driver/reporter.h"

#include <cmath>
#include <cstdio>

#include "pgs/pgs_format.h"

namespace kelpie {

std::string FormatTime(std::int32_t ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%01d:%02d:%02d.%03d",
                static_cast<int>(std::trunc(ms / 3600000.0)),
                static_cast<int>(std::trunc(ms / 60000.0)) % 60,
                static_cast<int>(std::trunc(ms / 1000.0)) % 60, ms % 1000);
  return text;
}

int Reporter::StartupError(const std::string& message, const std::string& path,
                           const std::string& reason) {
  console_.Err("%s\n", message.c_str());
  if (!reason.empty()) console_.Err("%s: %s\n", path.c_str(), reason.c_str());
  console_.WaitForKey();
  return 1;
}

void Reporter::ScriptWarning(const std::string& path, long line, const std::string& message) {
  if (line == 0) {
    console_.Err("%s: %s\n", path.c_str(), message.c_str());
  } else {
    console_.Err("%s:%ld: %s\n", path.c_str(), line, message.c_str());
  }
}

void Reporter::Warning(const std::string& line) {
  console_.Err("%s\n", line.c_str());
}

void Reporter::CantRead(const std::string& path, const std::string& reason) {
  console_.Err("can't read %s: %s\n", path.c_str(), reason.c_str());
}

void Reporter::CantWrite(const std::string& path, const std::string& reason) {
  console_.Err("can't write %s: %s\n", path.c_str(), reason.c_str());
}

void Reporter::OutOfMemoryDrawing(const std::string& path, long line) {
  console_.Err("out of memory while drawing %s:%ld\n", path.c_str(), line);
}

void Reporter::CantConvert(const std::string& path, const std::string& reason) {
  console_.Err("can't convert %s: %s\n", path.c_str(), reason.c_str());
}

void Reporter::Finished() {
  console_.Err("finished\n");
}

void Reporter::PictureStart(std::int32_t startMs, std::int32_t endMs) {
  console_.Err("<subtitle starttime=\"%s\" endtime=\"%s\" \n", FormatTime(startMs).c_str(),
               FormatTime(endMs).c_str());
}

void Reporter::Learning(const LearningFigures& figures) {
  console_.Err("beginning 1D learning: initial radius=%d\n", figures.initialRadius);
  console_.Err("finished 1D learning: final alpha=%f !\n", figures.finalAlpha);
}

void Reporter::Colours(std::int32_t width, std::int32_t height, std::int32_t entryCount) {
  console_.Out("\tImage[%04d] has %d color(s); size: %dx%d\n", imageNumber_, entryCount, width,
               height);
  ++imageNumber_;
}

void Reporter::ColourError() {
  console_.Out("Error: the png file \"%s\" has more than 256 colors\n", "dummy");
  console_.WaitForKey();
}

void Reporter::TooManyPixels(std::int64_t width, std::int64_t height, std::int32_t startMs,
                             std::int32_t endMs) {
  console_.Out(
      "Error: subtitle picture from %s to %s is %lld x %lld pixels, more than the %lld a player "
      "holds in one object; left out\n",
      FormatTime(startMs).c_str(), FormatTime(endMs).c_str(), static_cast<long long>(width),
      static_cast<long long>(height), static_cast<long long>(pgs::kMaxPlayerObjectPixels));
  console_.WaitForKey();
}

void Reporter::TooMuchData(std::int64_t dataLength, std::int32_t startMs, std::int32_t endMs) {
  console_.Out(
      "Error: subtitle picture from %s to %s is very complicated (%lld bytes of object data, "
      "more than the %d a player holds); left out\n",
      FormatTime(startMs).c_str(), FormatTime(endMs).c_str(), static_cast<long long>(dataLength),
      pgs::kMaxPlayerObjectData);
  console_.WaitForKey();
}

void Reporter::PictureEnd(std::int64_t posX, std::int64_t posY) {
  console_.Err("\toffset=\"%d,%d\" />\n", static_cast<int>(posX), static_cast<int>(posY));
}

}  // namespace kelpie
