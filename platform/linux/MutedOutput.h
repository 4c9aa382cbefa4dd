#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/ServerRouting.h"

namespace platform::linux_gst {

// The description of the output whose monitor the system stream records, when its mute or its
// volume keeps its sound out of the recording, or as good as out; none otherwise.
//
// A monitor carries what the server itself applies: its volume in software, and on PulseAudio
// every mute. PipeWire mutes a device with a mute switch in the hardware, and a device's
// hardware volume comes after the monitor on both, so those leave the recording whole. A volume
// of 10 % or less puts the sound 60 dB down or more (the servers' scale is cubic): speech there
// is below one step of 16-bit audio.
std::optional<std::string> mutedOutput(const ServerRouting& routing,
                                       std::optional<std::uint32_t> systemStream);

}  // namespace platform::linux_gst
