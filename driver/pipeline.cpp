#include "driver/pipeline.h"

#include "pgs/display_set_writer.h"

namespace kelpie {

Pipeline::Pipeline(TextFace& face, OutputFile& out, Reporter& reporter)
    : face_(face), out_(out), reporter_(reporter), state_(std::make_unique<RunState>()) {}

void Pipeline::WriteGroup(const std::vector<SubtitleEvent>& group, const PlayRes& playRes) {
  const SubtitleEvent& first = group.front();
  RunState& s = *state_;
  reporter_.PictureStart(first.start, first.end);

  RenderGroup(group, face_, playRes, s.render, s.picture);
  const GroupPicture& picture = s.picture;
  if (picture.kind == GroupPicture::Kind::kTooLarge) {
    reporter_.TooLarge(picture.width, picture.height, picture.posX, picture.posY, first.start,
                       first.end);
  }

  if (picture.kind == GroupPicture::Kind::kPicture && CountAndEncode()) {
    PicturePlacement placement;
    placement.posX = static_cast<std::int32_t>(picture.posX);
    placement.posY = static_cast<std::int32_t>(picture.posY);
    placement.width = picture.picture.width();
    placement.height = picture.picture.height();
    placement.start = first.start;
    placement.end = first.end;
    s.segments.clear();
    const pgs::VideoSize video{playRes.x, playRes.y};
    if (AppendDisplaySets(placement, video, s.colourTable, s.rleBuffer, s.segments) ==
        DisplaySetStatus::kWritten) {
      out_.Write(s.segments);
    } else {
      reporter_.NotWritten(placement.width, placement.height, first.start, first.end);
    }
  }
  reporter_.PictureEnd(picture.posX, picture.posY);
}

bool Pipeline::CountAndEncode() {
  RunState& s = *state_;
  const ArgbBitmap& picture = s.picture.picture;
  // The fast form first: one pass over the picture counts its colours and
  // codes its runs, and gives the final table and data whenever the table
  // never fills. Otherwise the picture takes the long way: loaded, counted
  // (reduced first when the count says so), then coded.
  const ScanResult scan = EncodeRleWhileCounting(picture, s.colourTable, s.rleBuffer);
  const bool onePass = scan.end == ScanEnd::kComplete;
  ColourCount count;
  if (onePass) {
    count = JudgeColourCount(s.colourTable, scan);
  } else {
    LoadPixels(picture, s.workImage);
    count = CountColours(s.workImage, s.colourTable, s.quantiser);
  }
  if (count.quantised) reporter_.Learning(count.learning);
  // A table that does not hold the picture's colours would only give a wrong
  // picture, and data too long for one object cannot be written.
  if (!count.ok) {
    reporter_.ColourError();
    return false;
  }
  reporter_.Colours(picture.width(), picture.height(), count.entryCount);
  if (!onePass) EncodeRle(s.workImage, s.colourTable, s.rleBuffer);
  if (!FitsOneObject(s.rleBuffer)) {
    reporter_.TooComplicated(s.rleBuffer.rleLength);
    return false;
  }
  return true;
}

}  // namespace kelpie
