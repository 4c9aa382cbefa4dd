#include "app/MicrophoneList.h"

#include "app/StageOutcome.h"
#include "events/EventSink.h"

namespace app {

events::EventRecord microphonesRecord(const platform::MicrophoneInventory& inventory) {
  events::EventList devices;
  for (const platform::AudioCaptureDevice& device : inventory.microphones) {
    const bool isDefault =
        inventory.defaultDevice && inventory.defaultDevice->uniqueID == device.uniqueID;
    devices.push_back(
        {{"name", device.localizedName}, {"id", device.uniqueID}, {"default", isDefault}});
  }
  return events::EventRecord("microphones").set("devices", std::move(devices));
}

int listMicrophones(platform::PlatformServices& platform, events::EventSink& sink) {
  platform::MicrophoneInventory inventory;
  try {
    inventory = platform.audioDevices().listMicrophones();
  } catch (...) {
    events::emitError(sink, currentFailure(platform.screenCapture().errorTypeName()), "probe");
    return 1;
  }
  sink.emit(microphonesRecord(inventory));
  return 0;
}

}  // namespace app
