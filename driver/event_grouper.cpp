#include "driver/event_grouper.h"

#include <utility>

namespace kelpie {

bool EventGrouper::Add(SubtitleEvent event, std::vector<SubtitleEvent>* completed) {
  // Only the last event of the group is compared; lines between two dialogue
  // lines never reach here, so they do not end a group.
  const bool starts_new =
      !open_.empty() && (event.start != open_.back().start || event.end != open_.back().end);
  if (starts_new) {
    std::swap(open_, *completed);
    open_.clear();
  }
  open_.push_back(std::move(event));
  return starts_new;
}

bool EventGrouper::Finish(std::vector<SubtitleEvent>* completed) {
  if (open_.empty()) return false;
  std::swap(open_, *completed);
  open_.clear();
  return true;
}

}  // namespace kelpie
