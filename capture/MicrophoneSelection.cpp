#include "capture/MicrophoneSelection.h"

#include <string>

#include "platform/TextNormalization.h"

namespace capture {

namespace {

bool eitherContainsTheOther(const std::string& requested, const std::string& deviceName) {
  if (deviceName.empty()) return false;
  return requested.find(deviceName) != std::string::npos ||
         deviceName.find(requested) != std::string::npos;
}

}  // namespace

std::optional<platform::AudioCaptureDevice> findMicrophoneByName(
    const std::vector<platform::AudioCaptureDevice>& devices, std::string_view requestedName) {
  const std::string requested = platform::canonicalComposition(requestedName);
  std::vector<std::string> names;
  names.reserve(devices.size());
  for (const auto& device : devices) {
    names.push_back(platform::canonicalComposition(device.localizedName));
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (names[i] == requested) return devices[i];
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (eitherContainsTheOther(requested, names[i])) return devices[i];
  }
  return std::nullopt;
}

}  // namespace capture
