#pragma once

#include <optional>
#include <string>

#include "events/EventRecord.h"

namespace events {

// The record as one compact JSON object. nullopt when it has no JSON form: a key or text value
// that is not valid UTF-8, or a non-finite double, anywhere in it, lists included.
std::optional<std::string> serializeJsonObject(const EventRecord& record);

}  // namespace events
