#pragma once

#include <string_view>

#include "events/EventRecord.h"
#include "platform/PlatformError.h"

namespace events {

// Writes the record as one line on stdout and flushes it. A record without a JSON form is
// dropped without a trace; the caller carries on either way.
void emitEvent(const EventRecord& record);

// The "error" record of a failed stage: type name, domain and code, but never the description.
void emitError(const platform::PlatformError& error, std::string_view stage);

}  // namespace events
