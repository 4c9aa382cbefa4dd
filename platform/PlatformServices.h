#pragma once

#include <memory>

#include "platform/AudioDeviceDiscovery.h"
#include "platform/Dispatch.h"
#include "platform/ScreenCaptureService.h"
#include "platform/StorageSpace.h"

namespace platform {

// Everything the tool asks of the system, in one place, so that tests can hand in a scripted
// double instead. Outlives every session made over it.
class PlatformServices {
 public:
  virtual ~PlatformServices() = default;
  virtual ScreenCaptureService& screenCapture() = 0;
  virtual AudioDeviceDiscovery& audioDevices() = 0;
  virtual Dispatch& dispatch() = 0;
  virtual StorageSpace& storage() = 0;
};

// The services of the platform this executable is built for. Throws PlatformError when the system
// refuses what even the dispatch service needs.
std::unique_ptr<PlatformServices> makeSystemPlatform();

}  // namespace platform
