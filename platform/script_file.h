// Reads a script file as a sequence of UTF-8 text lines, whatever their
// length and whatever the file's encoding. A line ends at a line feed or a
// carriage return and line feed; in a file with no line feed at all (classic
// Mac OS), at a carriage return. The line end is not part of a line.
//
// Encodings, decided when the file is opened:
//   - a UTF-32 or UTF-16 byte-order mark (little or big endian): that;
//   - UTF-16 without a byte-order mark, when in the first 4 KiB nine bytes in
//     ten at one parity are zero and fewer than one in ten at the other (the
//     high bytes of mostly ASCII text), with a warning naming it;
//   - otherwise, a file that is valid UTF-8 is passed on byte for byte (a
//     UTF-8 byte-order mark at its start is skipped);
//   - otherwise the encoding is detected (uchardet, as media players do) and
//     each line is converted with iconv, with one warning naming it;
//   - when that fails, the bytes that are not UTF-8 become U+FFFD, and the
//     warning names the first line that has them.
// Bytes that do not decode in the encoding being read also become U+FFFD,
// with one warning at the first line that has them. Memory stays bounded by
// the longest line: the file is never held whole (opening reads it once to
// check and detect, then starts again from its beginning).
#ifndef KELPIE_PLATFORM_SCRIPT_FILE_H_
#define KELPIE_PLATFORM_SCRIPT_FILE_H_

#include <iconv.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kelpie {

// Appends `bytes` to `out` as UTF-8: well-formed sequences as they stand, each
// maximal subpart of an ill-formed one (as the Unicode standard defines it,
// so "\xF0\x9F\x98" cut short is one) as U+FFFD. Returns whether anything
// was replaced.
bool AppendValidUtf8(std::string_view bytes, std::string& out);

struct ScriptWarning {
  long line = 0;  // 1-based line it concerns; 0 for the file as a whole
  std::string message;
};

class ScriptFile {
 public:
  enum class Encoding {
    kUtf8,         // valid UTF-8 (ASCII included): lines as they stand
    kUtf16Le,      // by its byte-order mark or its zero bytes
    kUtf16Be,      // by its byte-order mark or its zero bytes
    kUtf32Le,      // by its byte-order mark
    kUtf32Be,      // by its byte-order mark
    kConverted,    // detected; converted by iconv from encodingName()
    kUtf8Replace,  // not UTF-8, encoding unknown: invalid bytes become U+FFFD
  };

  ScriptFile() = default;
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;
  ~ScriptFile();

  // Opens `path` for reading and decides its encoding. Returns false when it
  // cannot be read (missing, no permission, a folder, not a regular file, a
  // read error while checking it); openError() then says why.
  bool Open(const std::string& path);
  // The system's reason for a failed Open (strerror text).
  const std::string& openError() const { return openError_; }

  Encoding encoding() const { return encoding_; }
  // "UTF-8", "UTF-16LE", "UTF-32BE", ... or the detected name ("ISO-8859-1").
  const std::string& encodingName() const { return encodingName_; }
  // The open file's status (its device and inode tell it from other files).
  const struct stat& info() const { return info_; }

  // Reads the next line into `line` (UTF-8, without its line end). Returns
  // false at the end of the file, or when reading fails (see readError()):
  // a line too long for the memory left is a failure, never the end.
  bool NextLine(std::string& line);

  // errno of a failed read (an I/O error; ENOMEM when a line did not fit in
  // memory), 0 when the file was read to its end.
  int readError() const { return readError_; }

  // 1-based number of the line last returned by NextLine.
  long lineNumber() const { return lineNumber_; }

  // The warnings gathered since the last call, in file order: after Open,
  // the encoding the file is read in; after NextLine, the first line whose
  // bytes do not decode. The caller prints them with the file's name.
  std::vector<ScriptWarning> TakeWarnings();

 private:
  bool DecideEncoding();
  bool SetWide(Encoding encoding, const char* name, int unitSize, long start);
  bool Rewind(long offset = 0);
  bool NextByteLine(std::string& line);
  bool NextWideLine(std::string& line);
  int NextUnit(std::uint32_t& unit);
  int NextByte();
  void ConvertLine(const char* bytes, std::size_t size, std::string& line);
  void NoteUndecodable();

  std::FILE* file_ = nullptr;
  std::string openError_;
  Encoding encoding_ = Encoding::kUtf8;
  std::string encodingName_ = "UTF-8";
  struct stat info_ {};
  char lineEnd_ = '\n';  // '\r' in a file without line feeds
  int unitSize_ = 1;     // bytes per code unit: 2 for UTF-16, 4 for UTF-32
  iconv_t converter_ = reinterpret_cast<iconv_t>(-1);
  // Raw bytes of the current line (getline's buffer) for the byte encodings.
  char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  // Read-ahead for UTF-16 and UTF-32, which are decoded byte by byte.
  std::vector<std::uint8_t> chunk_;
  std::size_t chunkPos_ = 0;
  long lineNumber_ = 0;
  int readError_ = 0;
  bool warnedUndecodable_ = false;
  std::vector<ScriptWarning> warnings_;
};

}  // namespace kelpie

#endif  // KELPIE_PLATFORM_SCRIPT_FILE_H_
