// Audio input devices as AVFoundation lists them.
//
// create / start: the core asks while it builds the stream configuration, on its own thread;
//   each question is answered synchronously from a fresh discovery session, nothing is cached.
// Choosing among the devices (names, fallback) is the core's.

#include "platform/macos/AVFoundationAudioDevices.h"

#import <AVFoundation/AVFoundation.h>

#include "platform/macos/FoundationText.h"

namespace platform::macos {

namespace {

AudioCaptureDevice describe(AVCaptureDevice* device) {
  return {utf8String(device.uniqueID), utf8String(device.localizedName)};
}

class AVFoundationAudioDevices final : public AudioDeviceDiscovery {
 public:
  std::vector<AudioCaptureDevice> microphones() override {
    std::vector<AudioCaptureDevice> devices;
    @autoreleasepool {
      AVCaptureDeviceDiscoverySession* session = [AVCaptureDeviceDiscoverySession
          discoverySessionWithDeviceTypes:@[
            AVCaptureDeviceTypeMicrophone, AVCaptureDeviceTypeExternal
          ]
                                mediaType:AVMediaTypeAudio
                                 position:AVCaptureDevicePositionUnspecified];
      for (AVCaptureDevice* device in session.devices) devices.push_back(describe(device));
    }
    return devices;
  }

  std::optional<AudioCaptureDevice> defaultAudioDevice() override {
    @autoreleasepool {
      AVCaptureDevice* device = [AVCaptureDevice defaultDeviceWithMediaType:AVMediaTypeAudio];
      if (device == nil) return std::nullopt;
      return describe(device);
    }
  }

  // AVFoundation lists devices without asking for any permission, so a listing cannot fail.
  MicrophoneInventory listMicrophones() override { return {microphones(), defaultAudioDevice()}; }
};

}  // namespace

std::unique_ptr<AudioDeviceDiscovery> makeAVFoundationAudioDevices() {
  return std::make_unique<AVFoundationAudioDevices>();
}

}  // namespace platform::macos
