#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/ServerRouting.h"

namespace platform::linux_gst {

// What keeps the sound of the output that the system stream records out of the recording, or
// as good as out, by its description: the output, when its mute or volume does, else its
// monitor ("Monitor of Speakers", which mixers list among the inputs), muted or turned down
// itself; none otherwise.
//
// A monitor carries what the server itself applies: an output's volume in software, and on
// PulseAudio every mute. PipeWire mutes a device with a mute switch in the hardware, and a
// device's hardware volume comes after the monitor on both, so those leave the recording whole,
// but for a volume of 0.
// A monitor's own mute and volume are the server's to apply. A volume of 10 % or less puts the
// sound 60 dB down or more (the servers' scale is cubic): speech there is below one step of
// 16-bit audio.
std::optional<std::string> mutedOutput(const ServerRouting& routing,
                                       std::optional<std::uint32_t> systemStream);

}  // namespace platform::linux_gst
