#pragma once

#include <memory>

#include "platform/AudioDeviceDiscovery.h"

namespace platform::macos {

std::unique_ptr<AudioDeviceDiscovery> makeAVFoundationAudioDevices();

}  // namespace platform::macos
