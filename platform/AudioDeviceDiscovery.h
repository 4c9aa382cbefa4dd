#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct AudioCaptureDevice {
  std::string uniqueID;       // identifies the device to the capture stream
  std::string localizedName;  // the display name a user picks it by
};

// The microphones and the default input as the platform saw them at one moment.
struct MicrophoneInventory {
  std::vector<AudioCaptureDevice> microphones;  // in the platform's order
  std::optional<AudioCaptureDevice> defaultDevice;
};

// The platform's audio input devices. Called from the main queue; the answers are the platform's
// at the moment of the call.
class AudioDeviceDiscovery {
 public:
  virtual ~AudioDeviceDiscovery() = default;
  // Microphones and external audio inputs, in the platform's order.
  virtual std::vector<AudioCaptureDevice> microphones() = 0;
  virtual std::optional<AudioCaptureDevice> defaultAudioDevice() = 0;
  // Both of the above for a listing, where a platform that cannot be asked is a failure rather
  // than no devices: throws PlatformError then.
  virtual MicrophoneInventory listMicrophones() = 0;
};

}  // namespace platform
