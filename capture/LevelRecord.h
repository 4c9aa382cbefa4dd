#pragma once

#include "capture/AudioStatistics.h"
#include "events/EventRecord.h"

namespace capture {

// The "level" and "final" records share their keys.
events::EventRecord levelRecord(const char* event, const LevelReading& system,
                                const LevelReading& microphone);

}  // namespace capture
