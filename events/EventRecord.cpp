#include "events/EventRecord.h"

#include <algorithm>

namespace events {

EventRecord::EventRecord(std::string event) {
  set("event", std::move(event));
}

EventRecord& EventRecord::set(std::string key, EventValue value) {
  auto existing = std::ranges::find(entries_, key, &std::pair<std::string, EventValue>::first);
  if (existing != entries_.end()) {
    existing->second = std::move(value);
  } else {
    entries_.emplace_back(std::move(key), std::move(value));
  }
  return *this;
}

}  // namespace events
