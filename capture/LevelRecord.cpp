#include "capture/LevelRecord.h"

namespace capture {

events::EventRecord levelRecord(const char* event, const LevelReading& system,
                                const LevelReading& microphone) {
  events::EventRecord record{std::string(event)};
  record.set("systemSamples", system.samples)
      .set("systemRms", system.rms)
      .set("microphoneSamples", microphone.samples)
      .set("microphoneRms", microphone.rms);
  return record;
}

}  // namespace capture
