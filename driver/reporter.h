// Everything a run says on the console: the three progress lines of each
// picture, the stages' findings (learning figures, colour errors, pictures
// left out), warnings about the script, start-up errors, and the key waits
// that follow errors. The stages return what happened; only the reporter
// turns it into text, so the wording and the order of the lines live here.
// The run owns one reporter; it numbers the pictures' colour lines.
#ifndef KELPIE_DRIVER_REPORTER_H_
#define KELPIE_DRIVER_REPORTER_H_

#include <cstdint>
#include <string>

#include "colour/quantiser.h"
#include "platform/console.h"

namespace kelpie {

// A time in milliseconds as the progress lines print it: h:mm:ss.mmm, the
// hours not reduced ("1:02:03.004", "10:00:00.000").
std::string FormatTime(std::int32_t ms);

class Reporter {
 public:
  explicit Reporter(Console& console) : console_(console) {}

  // A start-up error: `message` on standard error, then "<path>: <reason>"
  // when a reason is given, then the key wait. Returns the exit status, 1.
  int StartupError(const std::string& message, const std::string& path = {},
                   const std::string& reason = {});
  // "<path>: message" for the script as a whole (line 0), else
  // "<path>:<line>: message".
  void ScriptWarning(const std::string& path, long line, const std::string& message);
  // A warning about the run's settings, one line as it stands.
  void Warning(const std::string& line);
  // "can't read <path>: <reason>" and "can't write <path>: <reason>".
  void CantRead(const std::string& path, const std::string& reason);
  void CantWrite(const std::string& path, const std::string& reason);
  // "out of memory while drawing <path>:<line>".
  void OutOfMemoryDrawing(const std::string& path, long line);
  // "can't convert <path>: <reason>", for a run ended by an unexpected error.
  void CantConvert(const std::string& path, const std::string& reason);
  void Finished();

  // The progress of one picture, in this order: PictureStart, then what the
  // stages found, then PictureEnd.
  void PictureStart(std::int32_t startMs, std::int32_t endMs);
  void Learning(const LearningFigures& figures);
  // The colour line; numbers the picture.
  void Colours(std::int32_t width, std::int32_t height, std::int32_t entryCount);
  // Pictures left out, each message followed by the key wait: the colour
  // error (its wording kept as it always was, for anyone who looks for it),
  // and pictures that pass what a player holds in pixels or in object data.
  void ColourError();
  void TooManyPixels(std::int64_t width, std::int64_t height, std::int32_t startMs,
                     std::int32_t endMs);
  void TooMuchData(std::int64_t dataLength, std::int32_t startMs, std::int32_t endMs);
  void PictureEnd(std::int64_t posX, std::int64_t posY);

 private:
  Console& console_;
  std::int32_t imageNumber_ = 0;  // of the next colour line
};

}  // namespace kelpie

#endif  // KELPIE_DRIVER_REPORTER_H_
