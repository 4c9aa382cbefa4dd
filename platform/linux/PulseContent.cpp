// The content a query found, as the core's displays, applications and microphones.
//
// Made on the loop thread from a snapshot and immutable from then on; any thread may read it.
#include "platform/linux/PulseContent.h"

namespace platform::linux_gst {

ShareableContent contentOf(const ServerSnapshot& snapshot) {
  ShareableContent content;
  for (const auto& sink : snapshot.sinks) {
    if (sink.monitorSourceName.empty()) continue;
    auto display = std::make_shared<const PulseDisplay>(sink.monitorSourceName);
    if (sink.name == snapshot.defaultSinkName) {
      content.displays.insert(content.displays.begin(), std::move(display));
    } else {
      content.displays.push_back(std::move(display));
    }
  }
  for (std::int32_t processID : snapshot.clientProcessIDs) {
    content.applications.push_back(std::make_shared<const PulseApplication>(processID));
  }
  return content;
}

std::vector<AudioCaptureDevice> microphonesOf(const ServerSnapshot& snapshot) {
  std::vector<AudioCaptureDevice> devices;
  for (const auto& source : snapshot.sources) {
    if (!source.isMonitor) devices.push_back({source.name, source.description});
  }
  return devices;
}

std::optional<AudioCaptureDevice> defaultMicrophoneOf(const ServerSnapshot& snapshot) {
  for (const auto& device : microphonesOf(snapshot)) {
    if (device.uniqueID == snapshot.defaultSourceName) return device;
  }
  return std::nullopt;
}

}  // namespace platform::linux_gst
