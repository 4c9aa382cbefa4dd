#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace events {

using EventScalar = std::variant<std::string, std::int64_t, std::uint64_t, double, bool>;
// An object inside a list, e.g. one device of the "microphones" record: flat, keys in order.
using EventObject = std::vector<std::pair<std::string, EventScalar>>;
using EventList = std::vector<EventObject>;
using EventValue = std::variant<std::string, std::int64_t, std::uint64_t, double, bool, EventList>;

// One line of the event stream: a record whose keys are unique and keep the order in which they
// were first set, so that "event" always leads. Values are scalars, or a list of flat objects.
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
