#pragma once

#include <string_view>

#include "events/EventRecord.h"
#include "platform/PlatformError.h"

namespace events {

// Hands the record to the writer of standard output as one line, in the order of the calls; a
// thread of its own writes it, so the caller never waits on the reader. A record without a
// JSON form, or one the reader can no longer take, is dropped without a trace; the caller
// carries on either way.
void emitEvent(const EventRecord& record);

// The "error" record of a failed stage: type name, domain and code, but never the description.
void emitError(const platform::PlatformError& error, std::string_view stage);

// Returns once every record emitted before has been written, or dropped because standard output
// refused it. Waits as long as a reader holds a full pipe open without reading: the exit path
// calls it so that the last records are not lost.
void flushEvents();

}  // namespace events
