#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/AudioDeviceDiscovery.h"

namespace capture {

// The device a user means by `requestedName`: the first whose display name equals it, else the
// first whose display name contains it or is contained in it (an empty display name never
// counts). Case-sensitive, but canonically equivalent Unicode forms compare equal.
std::optional<platform::AudioCaptureDevice> findMicrophoneByName(
    const std::vector<platform::AudioCaptureDevice>& devices, std::string_view requestedName);

}  // namespace capture
