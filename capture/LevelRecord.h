#pragma once

#include "app/EventRecord.h"
#include "capture/AudioStatistics.h"

namespace capture {

// The "level" and "final" records share their keys.
app::EventRecord levelRecord(const char* event, const LevelReading& system,
                             const LevelReading& microphone);

}  // namespace capture
