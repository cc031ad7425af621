// Collects consecutive dialogue events that share their start and end time
// into one group, the unit that becomes one picture. The grouper owns the
// open group; a completed group is handed to the caller by swapping vectors,
// so the storage of both is reused from group to group.
#ifndef KELPIE_DRIVER_EVENT_GROUPER_H_
#define KELPIE_DRIVER_EVENT_GROUPER_H_

#include <vector>

#include "driver/script_reader.h"

namespace kelpie {

class EventGrouper {
 public:
  // Adds the next event of the script. When its times differ from those of the
  // open group's last event, the open group is complete: it is moved into
  // *completed (whose old contents are dropped), the event opens a new group,
  // and true is returned. Otherwise the event joins the open group.
  bool Add(SubtitleEvent event, std::vector<SubtitleEvent>* completed);

  // At the end of the script: moves the open group into *completed and returns
  // true, or returns false when no event was ever added since the last Finish.
  bool Finish(std::vector<SubtitleEvent>* completed);

 private:
  std::vector<SubtitleEvent> open_;
};

}  // namespace kelpie

#endif  // KELPIE_DRIVER_EVENT_GROUPER_H_
