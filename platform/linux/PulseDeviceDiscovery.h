#pragma once

#include "platform/AudioDeviceDiscovery.h"

namespace platform::linux_gst {

// Microphones are the server's inputs that are not monitors of an output. Each call reads the
// server afresh on the caller's thread through a private PulseAudio loop, bounded by a
// time-out; an unreachable server means no devices, or the server's error for a listing.
class PulseDeviceDiscovery : public AudioDeviceDiscovery {
 public:
  std::vector<AudioCaptureDevice> microphones() override;
  std::optional<AudioCaptureDevice> defaultAudioDevice() override;
  MicrophoneInventory listMicrophones() override;
};

}  // namespace platform::linux_gst
