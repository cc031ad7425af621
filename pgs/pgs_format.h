// The byte format of a Presentation Graphic Stream (".sup"): a plain
// concatenation of segments, each a 13-byte header and a payload, every
// multi-byte field big-endian. The display-set writer, the run-length coder,
// the stream reader, the tools and the tests all take their sizes, type codes
// and flag values from here.
#ifndef KELPIE_PGS_PGS_FORMAT_H_
#define KELPIE_PGS_PGS_FORMAT_H_

#include <cstdint>

namespace kelpie {
namespace pgs {

// The video a stream's compositions are laid over, in pixels; every
// composition segment announces it.
struct VideoSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};

enum class SegmentType : std::uint8_t {
  kPalette = 0x14,      // PDS: palette definition
  kObject = 0x15,       // ODS: object definition (run-length coded picture)
  kComposition = 0x16,  // PCS: presentation composition
  kWindow = 0x17,       // WDS: window definition
  kEnd = 0x80,          // END: end of display set
};

// Segment header: magic "PG", presentation and decoding time stamps (90 kHz
// ticks, 32 bits), segment type, payload size.
constexpr std::uint8_t kMagic[2] = {0x50, 0x47};  // "PG"
constexpr int kMagicSize = 2;
constexpr int kTimeStampSize = 4;
constexpr int kSegmentTypeSize = 1;
constexpr int kPayloadSizeSize = 2;
constexpr int kSegmentHeaderSize =
    kMagicSize + kTimeStampSize + kTimeStampSize + kSegmentTypeSize + kPayloadSizeSize;
static_assert(kSegmentHeaderSize == 13);
// Offsets of the header fields.
constexpr int kPtsOffset = kMagicSize;
constexpr int kDtsOffset = kPtsOffset + kTimeStampSize;
constexpr int kSegmentTypeOffset = kDtsOffset + kTimeStampSize;
constexpr int kPayloadSizeOffset = kSegmentTypeOffset + kSegmentTypeSize;
// The payload size is a 16-bit field.
constexpr int kMaxPayloadSize = 0xFFFF;

// Composition: video width and height, frame-rate code, composition number,
// composition state, palette update flag, palette id, object count; then per
// object its id, window id, cropped flag and position (plus a crop rectangle
// when the cropped flag is set).
constexpr int kVideoSizeFieldSize = 2;
constexpr int kFrameRateSize = 1;
constexpr int kCompositionNumberSize = 2;
constexpr int kCompositionStateSize = 1;
constexpr int kPaletteUpdateFlagSize = 1;
constexpr int kPaletteIdSize = 1;
constexpr int kObjectCountSize = 1;
constexpr int kCompositionHeadSize = kVideoSizeFieldSize + kVideoSizeFieldSize + kFrameRateSize +
                                     kCompositionNumberSize + kCompositionStateSize +
                                     kPaletteUpdateFlagSize + kPaletteIdSize + kObjectCountSize;
static_assert(kCompositionHeadSize == 11);
constexpr int kObjectIdSize = 2;
constexpr int kWindowIdSize = 1;
constexpr int kCroppedFlagSize = 1;
constexpr int kPositionFieldSize = 2;
constexpr int kCompositionObjectSize =
    kObjectIdSize + kWindowIdSize + kCroppedFlagSize + kPositionFieldSize + kPositionFieldSize;
static_assert(kCompositionObjectSize == 8);
// Crop rectangle of a cropped composition object: x, y, width, height.
constexpr int kCropSize = 4 * kPositionFieldSize;
constexpr int kShowCompositionPayloadSize = kCompositionHeadSize + kCompositionObjectSize;
constexpr int kClearCompositionPayloadSize = kCompositionHeadSize;
static_assert(kShowCompositionPayloadSize == 19 && kClearCompositionPayloadSize == 11);

constexpr std::uint8_t kFrameRateCode = 0x40;
constexpr std::uint8_t kCompositionStateNormal = 0x00;
constexpr std::uint8_t kCompositionStateAcquisitionPoint = 0x40;
constexpr std::uint8_t kCompositionStateEpochStart = 0x80;
constexpr std::uint8_t kPaletteUpdateNone = 0x00;
constexpr std::uint8_t kObjectNotCropped = 0x00;
constexpr std::uint8_t kObjectCropped = 0x80;
// Composition numbers of the two display sets of one picture.
constexpr std::uint16_t kShowCompositionNumber = 0;
constexpr std::uint16_t kClearCompositionNumber = 1;

// Window definition: window count, then per window its id, position and size.
constexpr int kWindowCountSize = 1;
constexpr int kWindowSizeFieldSize = 2;
constexpr int kWindowEntrySize = kWindowIdSize + kPositionFieldSize + kPositionFieldSize +
                                 kWindowSizeFieldSize + kWindowSizeFieldSize;
constexpr int kWindowPayloadSize = kWindowCountSize + kWindowEntrySize;
static_assert(kWindowEntrySize == 9 && kWindowPayloadSize == 10);

// Palette definition: palette id and version, then entries of id, Y, Cr, Cb
// and alpha (full-range YCrCb, straight alpha).
constexpr int kPaletteVersionSize = 1;
constexpr int kPaletteHeadSize = kPaletteIdSize + kPaletteVersionSize;
constexpr int kPaletteEntrySize = 1 + 1 + 1 + 1 + 1;  // id, Y, Cr, Cb, alpha
static_assert(kPaletteHeadSize == 2 && kPaletteEntrySize == 5);

// Object definition: object id, version, sequence flag, object data length,
// then (in the first fragment) the picture's width and height, followed by
// the run-length data. The object data length counts the width and height
// fields and the run-length data.
constexpr int kObjectVersionSize = 1;
constexpr int kSequenceFlagSize = 1;
constexpr int kObjectDataLengthSize = 3;
constexpr int kPictureSizeFieldSize = 2;
constexpr int kObjectPictureSizeSize = kPictureSizeFieldSize + kPictureSizeFieldSize;
constexpr int kObjectHeadSize = kObjectIdSize + kObjectVersionSize + kSequenceFlagSize +
                                kObjectDataLengthSize + kObjectPictureSizeSize;
static_assert(kObjectHeadSize == 11);
// A continuation fragment carries only id, version and sequence flag.
constexpr int kObjectFragmentHeadSize = kObjectIdSize + kObjectVersionSize + kSequenceFlagSize;
constexpr std::uint8_t kFirstFragment = 0x80;
constexpr std::uint8_t kLastFragment = 0x40;
constexpr std::uint8_t kFirstAndLastFragment = kFirstFragment | kLastFragment;
// The run-length data that one object segment can carry besides its head;
// longer data continues in further segments, each carrying up to
// kMaxContinuedObjectData bytes after its shorter head.
constexpr int kMaxObjectData = kMaxPayloadSize - kObjectHeadSize;
static_assert(kMaxObjectData == 65524);
constexpr int kMaxContinuedObjectData = kMaxPayloadSize - kObjectFragmentHeadSize;
static_assert(kMaxContinuedObjectData == 65531);
// What players hold of one object: its run-length data and its pixels.
constexpr std::int32_t kMaxPlayerObjectData = 1 << 20;
constexpr std::int64_t kMaxPlayerObjectPixels = 4194304;  // 2048 x 2048
// A composition shows at most two objects, each in a window of its own.
constexpr int kMaxObjects = 2;

// Ids used by the writer: one palette per picture; one object in window 1,
// or two objects 0 and 1 in windows 0 and 1.
constexpr std::uint16_t kObjectId = 0;
constexpr std::uint8_t kWindowId = 1;
constexpr std::uint8_t kPaletteId = 0;
constexpr std::uint8_t kObjectVersion = 0;
constexpr std::uint8_t kPaletteVersion = 0;

// Segment sizes in the stream, header included.
constexpr int kShowCompositionSegmentSize = kSegmentHeaderSize + kShowCompositionPayloadSize;
constexpr int kClearCompositionSegmentSize = kSegmentHeaderSize + kClearCompositionPayloadSize;
constexpr int kWindowSegmentSize = kSegmentHeaderSize + kWindowPayloadSize;
constexpr int kPaletteSegmentHeadSize = kSegmentHeaderSize + kPaletteHeadSize;
constexpr int kObjectSegmentHeadSize = kSegmentHeaderSize + kObjectHeadSize;
constexpr int kEndSegmentSize = kSegmentHeaderSize;
static_assert(kShowCompositionSegmentSize == 32 && kClearCompositionSegmentSize == 24 &&
              kWindowSegmentSize == 23 && kPaletteSegmentHeadSize == 15 &&
              kObjectSegmentHeadSize == 24 && kEndSegmentSize == 13);

// Time stamps: 90 kHz ticks from milliseconds, scaled by 90.09 (90 x 1.001)
// and truncated; the decoding lead of each segment below its presentation.
constexpr double kTicksPerMillisecond = 90.09;
constexpr std::uint32_t kDecodeLead = 5832;  // show composition decoded this early
constexpr std::uint32_t kObjectLead = 5643;  // object and end segment presented this early
constexpr std::uint32_t kWindowLead = 90;    // window segment presented this early

// Run-length object data. Every code starts with a non-zero index byte (one
// pixel of that index) or with the escape byte 0x00 followed by a flag byte:
//   00 00                   end of line
//   00 0L                   L (1..63) pixels of index 0
//   00 4L LL                L (64..16383) pixels of index 0
//   00 8L kk                L (1..63) pixels of index k
//   00 CL LL kk             L (64..16383) pixels of index k
constexpr std::uint8_t kRleEscape = 0x00;
constexpr std::uint8_t kRleLongRun = 0x40;  // flag: a second length byte follows
constexpr std::uint8_t kRleIndexed = 0x80;  // flag: an index byte ends the code
constexpr std::uint8_t kRleLengthMask = 0x3F;
constexpr int kMaxShortRun = 63;
constexpr int kMaxRun = 0x3FFF;  // 14-bit run length
// Runs of one or two pixels of these indexes are written as the index bytes.
constexpr int kMinDirectIndex = 1;
constexpr int kMaxDirectIndex = 57;
constexpr int kEndOfLineSize = 2;

// The index that every fully transparent pixel takes.
constexpr std::uint8_t kTransparentIndex = 255;
constexpr int kMaxPaletteEntries = 256;

}  // namespace pgs
}  // namespace kelpie

#endif  // KELPIE_PGS_PGS_FORMAT_H_
