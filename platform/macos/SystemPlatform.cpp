// The macOS services in one place. Plain C++: every framework type stays behind the factories.

#include "platform/PlatformServices.h"
#include "platform/macos/AVFoundationAudioDevices.h"
#include "platform/macos/Libdispatch.h"
#include "platform/macos/ScreenCaptureKitService.h"
#include "platform/posix/PosixStorageSpace.h"

namespace platform {

namespace {

class MacPlatform final : public PlatformServices {
 public:
  ScreenCaptureService& screenCapture() override { return *screenCapture_; }
  AudioDeviceDiscovery& audioDevices() override { return *audioDevices_; }
  Dispatch& dispatch() override { return *dispatch_; }
  StorageSpace& storage() override { return storage_; }

 private:
  std::unique_ptr<ScreenCaptureService> screenCapture_ = macos::makeScreenCaptureKitService();
  std::unique_ptr<AudioDeviceDiscovery> audioDevices_ = macos::makeAVFoundationAudioDevices();
  std::unique_ptr<Dispatch> dispatch_ = macos::makeLibdispatch();
  posix::PosixStorageSpace storage_;
};

}  // namespace

std::unique_ptr<PlatformServices> makeSystemPlatform() {
  return std::make_unique<MacPlatform>();
}

}  // namespace platform
