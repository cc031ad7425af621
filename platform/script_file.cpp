#include "platform/script_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace kelpie {

namespace {

constexpr std::size_t kChunkSize = 1 << 16;
constexpr std::size_t kSniffSize = 4096;  // bytes looked at for UTF-16 without a byte-order mark
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Checks the UTF-8 sequence that starts at s[0], a byte of 0x80 or more,
// against the table of well-formed byte sequences of the Unicode standard (no
// overlong forms, no surrogates, nothing above U+10FFFF). `n` bytes are
// available. Returns the sequence's length when it is well formed; -1 when
// the n bytes are a well-formed beginning cut short; 0 when it is ill formed,
// *bad then being the length of its maximal subpart, the bytes that one
// U+FFFD stands for (at least 1).
int Utf8Sequence(const unsigned char* s, std::size_t n, std::size_t* bad) {
  const unsigned char lead = s[0];
  int length = 0;
  unsigned char lo = 0x80;  // range of the second byte
  unsigned char hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3;
    lo = 0xA0;
  } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
    length = 3;
  } else if (lead == 0xED) {
    length = 3;
    hi = 0x9F;
  } else if (lead == 0xF0) {
    length = 4;
    lo = 0x90;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else if (lead == 0xF4) {
    length = 4;
    hi = 0x8F;
  } else {
    *bad = 1;
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) >= n) return -1;
    if (s[i] < lo || s[i] > hi) {
      *bad = static_cast<std::size_t>(i);
      return 0;
    }
    lo = 0x80;
    hi = 0xBF;
  }
  return length;
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The iconv name to convert a detected encoding with. Scripts said to be in
// Shift_JIS come from Windows, where 0x5C is the backslash of "\N" and
// "\pos"; iconv's SHIFT_JIS reads it as a yen sign, its CP932 as a backslash.
std::string IconvName(const std::string& detected) {
  if (detected == "SHIFT_JIS") return "CP932";
  return detected;
}

// Whether `converter` reads printable ASCII, tab, carriage return and line
// feed as themselves, so that lines are split at their line-feed bytes and
// the keys and tags are found after conversion. UTF-16 and UTF-32 fail this.
bool ReadsAsciiAsItself(iconv_t converter) {
  std::string ascii = "\t\r\n";
  for (char c = ' '; c <= '~'; ++c) ascii.push_back(c);
  char out[256];
  char* inPtr = ascii.data();
  std::size_t inLeft = ascii.size();
  char* outPtr = out;
  std::size_t outLeft = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
      iconv(converter, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
    return false;
  }
  return std::string_view(out, sizeof out - outLeft) == ascii;
}

}  // namespace

bool AppendValidUtf8(std::string_view bytes, std::string& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  bool replaced = false;
  std::size_t i = 0;
  while (i < size) {
    const std::size_t plain = i;
    while (i < size && s[i] < 0x80) ++i;
    out.append(bytes.substr(plain, i - plain));
    if (i == size) break;
    std::size_t bad = 0;
    const int length = Utf8Sequence(s + i, size - i, &bad);
    if (length > 0) {
      out.append(bytes.substr(i, static_cast<std::size_t>(length)));
      i += static_cast<std::size_t>(length);
      continue;
    }
    // A sequence cut short by the end: all that is left is its maximal subpart.
    if (length < 0) bad = size - i;
    out.append(kReplacement);
    replaced = true;
    i += bad;
  }
  return replaced;
}

ScriptFile::~ScriptFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (converter_ != kNoConverter) iconv_close(converter_);
  std::free(buffer_);
}

bool ScriptFile::Open(const std::string& path) {
  // Opened without blocking, so that a FIFO named like a script does not wait
  // for a writer; only regular files are read (a device such as /dev/zero
  // would never end).
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    openError_ = std::strerror(errno);
    return false;
  }
  if (fstat(fd, &info_) != 0) {
    openError_ = std::strerror(errno);
  } else if (S_ISDIR(info_.st_mode)) {
    openError_ = std::strerror(EISDIR);
  } else if (!S_ISREG(info_.st_mode)) {
    openError_ = "not a regular file";
  } else {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
      openError_ = std::strerror(errno);
    } else if ((file_ = fdopen(fd, "rb")) == nullptr) {
      openError_ = std::strerror(errno);
    }
  }
  if (file_ == nullptr) {
    ::close(fd);
    return false;
  }
  if (!DecideEncoding()) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  return true;
}

bool ScriptFile::Rewind(long offset) {
  chunk_.clear();
  chunkPos_ = 0;
  if (std::fseek(file_, offset, SEEK_SET) != 0) {
    openError_ = std::strerror(errno);
    return false;
  }
  return true;
}

// Reads a UTF-16 or UTF-32 file from `start` (after its byte-order mark)
// for the line end it uses, and leaves it at `start`.
bool ScriptFile::SetWide(Encoding encoding, const char* name, int unitSize, long start) {
  encoding_ = encoding;
  encodingName_ = name;
  unitSize_ = unitSize;
  if (!Rewind(start)) return false;
  bool sawCr = false;
  std::uint32_t unit = 0;
  while (NextUnit(unit) == unitSize_ && unit != '\n') sawCr |= unit == '\r';
  if (readError_ != 0) {
    openError_ = std::strerror(readError_);
    return false;
  }
  if (unit != '\n' && sawCr) lineEnd_ = '\r';
  return Rewind(start);
}

// Reads the file once to find out how to decode it, and leaves it at the
// position where its first line starts.
bool ScriptFile::DecideEncoding() {
  unsigned char head[kSniffSize];
  errno = 0;
  const std::size_t got = std::fread(head, 1, sizeof head, file_);
  if (std::ferror(file_)) {
    openError_ = std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  const auto startsWith = [&](std::string_view mark) {
    return got >= mark.size() && std::memcmp(head, mark.data(), mark.size()) == 0;
  };
  // UTF-32's little-endian mark begins with UTF-16's, so it is tried first.
  using namespace std::string_view_literals;
  if (startsWith("\xFF\xFE\0\0"sv)) return SetWide(Encoding::kUtf32Le, "UTF-32LE", 4, 4);
  if (startsWith("\0\0\xFE\xFF"sv)) return SetWide(Encoding::kUtf32Be, "UTF-32BE", 4, 4);
  if (startsWith("\xFF\xFE")) return SetWide(Encoding::kUtf16Le, "UTF-16LE", 2, 2);
  if (startsWith("\xFE\xFF")) return SetWide(Encoding::kUtf16Be, "UTF-16BE", 2, 2);
  std::size_t zeros[2] = {0, 0};  // at even and at odd offsets
  for (std::size_t i = 0; i < got; ++i) zeros[i % 2] += head[i] == 0;
  const std::size_t count[2] = {(got + 1) / 2, got / 2};
  for (int high = 0; high < 2 && got >= 2; ++high) {
    if (10 * zeros[high] >= 9 * count[high] && 10 * zeros[1 - high] < count[1 - high]) {
      warnings_.push_back(
          {0, std::string("not UTF-8; reading it as UTF-16") + (high == 0 ? "BE" : "LE")});
      return high == 0 ? SetWide(Encoding::kUtf16Be, "UTF-16BE", 2, 0)
                       : SetWide(Encoding::kUtf16Le, "UTF-16LE", 2, 0);
    }
  }
  if (!Rewind()) return false;

  // Is it UTF-8? Chunk by chunk; a sequence cut by a chunk's end is carried
  // over to the next. The line of the first ill-formed sequence is kept.
  std::vector<unsigned char> chunk(kChunkSize + 4);
  std::size_t carry = 0;
  long line = 1;    // counted at line feeds
  long crLine = 1;  // counted at carriage returns, for a file without line feeds
  long badLine = 0;
  long badCrLine = 0;
  while (badLine == 0) {
    errno = 0;
    const std::size_t n = std::fread(chunk.data() + carry, 1, kChunkSize, file_);
    if (std::ferror(file_)) {
      openError_ = std::strerror(errno != 0 ? errno : EIO);
      return false;
    }
    const bool atEnd = std::feof(file_) != 0;
    const std::size_t size = carry + n;
    carry = 0;
    std::size_t i = 0;
    while (i < size) {
      if (chunk[i] < 0x80) {
        line += chunk[i] == '\n';
        crLine += chunk[i] == '\r';
        ++i;
        continue;
      }
      std::size_t bad = 0;
      const int length = Utf8Sequence(chunk.data() + i, size - i, &bad);
      if (length > 0) {
        i += static_cast<std::size_t>(length);
      } else if (length < 0 && !atEnd) {
        carry = size - i;
        std::memmove(chunk.data(), chunk.data() + i, carry);
        break;
      } else {
        badLine = line;
        badCrLine = crLine;
        break;
      }
    }
    if (atEnd) break;
  }
  if (!Rewind()) return false;
  bool sawLf = line > 1;
  bool sawCr = crLine > 1;
  if (badLine == 0) {  // UTF-8 (or ASCII): read as it stands
    if (!sawLf && sawCr) lineEnd_ = '\r';
    return true;
  }

  // Not UTF-8: ask uchardet, fed the whole file chunk by chunk.
  std::string detected;
  uchardet_t detector = uchardet_new();
  bool fed = detector != nullptr;
  std::size_t n;
  while ((n = std::fread(chunk.data(), 1, kChunkSize, file_)) > 0) {
    sawLf |= std::memchr(chunk.data(), '\n', n) != nullptr;
    sawCr |= std::memchr(chunk.data(), '\r', n) != nullptr;
    if (fed) {
      fed = uchardet_handle_data(detector, reinterpret_cast<const char*>(chunk.data()), n) == 0;
    }
  }
  if (detector != nullptr) {
    uchardet_data_end(detector);
    if (fed && uchardet_get_charset(detector) != nullptr) detected = uchardet_get_charset(detector);
    uchardet_delete(detector);
  }
  if (std::ferror(file_)) {
    openError_ = std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  if (!Rewind()) return false;
  if (!sawLf && sawCr) {
    lineEnd_ = '\r';
    badLine = badCrLine;
  }

  // "UTF-8" or "ASCII" for a file that is neither means the detector gave up.
  if (!detected.empty() && detected != "UTF-8" && detected != "ASCII") {
    converter_ = iconv_open("UTF-8", IconvName(detected).c_str());
    if (converter_ != kNoConverter && !ReadsAsciiAsItself(converter_)) {
      iconv_close(converter_);
      converter_ = kNoConverter;
    }
  }
  if (converter_ != kNoConverter) {
    encoding_ = Encoding::kConverted;
    encodingName_ = detected;
    warnings_.push_back({0, "not UTF-8; reading it as " + detected});
  } else {
    encoding_ = Encoding::kUtf8Replace;
    warnings_.push_back(
        {badLine,
         "not UTF-8, and its encoding is not recognised; invalid bytes are drawn as U+FFFD"});
    warnedUndecodable_ = true;
  }
  return true;
}

bool ScriptFile::NextLine(std::string& line) {
  if (file_ == nullptr || readError_ != 0) return false;
  try {
    return unitSize_ > 1 ? NextWideLine(line) : NextByteLine(line);
  } catch (const std::bad_alloc&) {
    readError_ = ENOMEM;
    return false;
  }
}

bool ScriptFile::NextByteLine(std::string& line) {
  errno = 0;
  const ssize_t n = getdelim(&buffer_, &capacity_, lineEnd_, file_);
  if (n < 0) {
    // getdelim also fails when a line does not fit in memory, leaving the
    // stream without its error flag: only the end flag means the end.
    if (std::ferror(file_) || !std::feof(file_)) readError_ = errno != 0 ? errno : EIO;
    return false;
  }
  std::size_t length = static_cast<std::size_t>(n);
  if (length > 0 && buffer_[length - 1] == lineEnd_) --length;
  if (lineEnd_ == '\n' && length > 0 && buffer_[length - 1] == '\r') --length;
  const char* start = buffer_;
  if (lineNumber_ == 0 && std::string_view(start, length).starts_with(kUtf8Bom)) {
    start += kUtf8Bom.size();
    length -= kUtf8Bom.size();
  }
  ++lineNumber_;
  switch (encoding_) {
    case Encoding::kConverted:
      ConvertLine(start, length, line);
      break;
    case Encoding::kUtf8Replace:
      line.clear();
      AppendValidUtf8(std::string_view(start, length), line);
      break;
    default:
      line.assign(start, length);
      break;
  }
  return true;
}

void ScriptFile::ConvertLine(const char* bytes, std::size_t size, std::string& line) {
  iconv(converter_, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes);
  std::size_t inLeft = size;
  std::size_t used = 0;
  bool bad = false;
  bool flushing = false;  // all input taken; back to the initial shift state
  line.resize(size + size / 2 + 16);
  for (;;) {
    char* out = line.data() + used;
    std::size_t outLeft = line.size() - used;
    const std::size_t result = flushing ? iconv(converter_, nullptr, nullptr, &out, &outLeft)
                                        : iconv(converter_, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    used = line.size() - outLeft;
    if (result != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      flushing = true;
      continue;
    }
    if (error == E2BIG) {
      line.resize(line.size() * 2);
      continue;
    }
    if (flushing) break;
    // EILSEQ: bytes that are not a character of the encoding; EINVAL: a
    // character cut short by the line's end. One U+FFFD each, and on.
    if (line.size() - used < kReplacement.size()) line.resize(line.size() * 2);
    line.replace(used, kReplacement.size(), kReplacement);
    used += kReplacement.size();
    bad = true;
    if (error == EINVAL) {
      inLeft = 0;
    } else {
      ++in;
      --inLeft;
    }
  }
  line.resize(used);
  if (bad) NoteUndecodable();
}

int ScriptFile::NextByte() {
  if (chunkPos_ == chunk_.size()) {
    chunk_.resize(kChunkSize);
    errno = 0;
    const std::size_t n = std::fread(chunk_.data(), 1, kChunkSize, file_);
    chunk_.resize(n);
    chunkPos_ = 0;
    if (n == 0) {
      if (std::ferror(file_)) readError_ = errno != 0 ? errno : EIO;
      return -1;
    }
  }
  return chunk_[chunkPos_++];
}

// Reads one code unit of unitSize_ bytes in the file's byte order. Returns
// the number of bytes read: unitSize_, fewer for a unit cut short by the
// end, 0 at the end.
int ScriptFile::NextUnit(std::uint32_t& unit) {
  const bool bigEndian = encoding_ == Encoding::kUtf16Be || encoding_ == Encoding::kUtf32Be;
  unit = 0;
  for (int got = 0; got < unitSize_; ++got) {
    const int b = NextByte();
    if (b < 0) return got;
    unit = bigEndian ? unit << 8 | static_cast<std::uint32_t>(b)
                     : unit | static_cast<std::uint32_t>(b) << (8 * got);
  }
  return unitSize_;
}

bool ScriptFile::NextWideLine(std::string& line) {
  line.clear();
  bool any = false;
  bool bad = false;
  std::uint32_t high = 0;  // a UTF-16 high surrogate waiting for its low half
  std::uint32_t unit = 0;
  for (int got; (got = NextUnit(unit)) > 0;) {
    any = true;
    if (got < unitSize_) {  // bytes at the end that make no whole unit
      line.append(kReplacement);
      bad = true;
      break;
    }
    if (high != 0) {
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        AppendUtf8(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00), line);
        high = 0;
        continue;
      }
      line.append(kReplacement);
      bad = true;
      high = 0;
    }
    if (unitSize_ == 2 && unit >= 0xD800 && unit <= 0xDBFF) {
      high = unit;
    } else if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF) {
      line.append(kReplacement);
      bad = true;
    } else if (unit == static_cast<std::uint32_t>(lineEnd_)) {
      break;
    } else {
      AppendUtf8(unit, line);
    }
  }
  if (high != 0) {
    line.append(kReplacement);
    bad = true;
  }
  if (!any || readError_ != 0) return false;
  if (lineEnd_ == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
  ++lineNumber_;
  if (bad) NoteUndecodable();
  return true;
}

void ScriptFile::NoteUndecodable() {
  if (warnedUndecodable_) return;
  warnedUndecodable_ = true;
  warnings_.push_back({lineNumber_, "invalid " + encodingName_ + " bytes are drawn as U+FFFD"});
}

std::vector<ScriptWarning> ScriptFile::TakeWarnings() {
  std::vector<ScriptWarning> taken;
  taken.swap(warnings_);
  return taken;
}

}  // namespace kelpie
