#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace events {

using EventValue = std::variant<std::string, std::int64_t, std::uint64_t, double, bool>;

// One line of the event stream: a flat record whose keys are unique and keep the order in which
// they were first set, so that "event" always leads.
class EventRecord {
 public:
  explicit EventRecord(std::string event);

  // Setting a key that is already present replaces its value in place.
  EventRecord& set(std::string key, EventValue value);

  const std::vector<std::pair<std::string, EventValue>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, EventValue>> entries_;
};

}  // namespace events
