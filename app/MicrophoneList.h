#pragma once

#include "events/EventRecord.h"
#include "events/EventSink.h"
#include "platform/AudioDeviceDiscovery.h"
#include "platform/PlatformServices.h"

namespace app {

// The "microphones" record: every device --microphone-name can pick, in the order it tries them,
// each with its name, its identifier and whether it is the one recorded when no name is given.
events::EventRecord microphonesRecord(const platform::MicrophoneInventory& inventory);

// Emits the "microphones" record, or the "probe" stage's error when the platform cannot be asked.
// Yields the exit status. Creates no session and touches no signal.
int listMicrophones(platform::PlatformServices& platform, events::EventSink& sink);

}  // namespace app
