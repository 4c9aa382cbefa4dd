#pragma once

#include "platform/AudioDeviceDiscovery.h"
#include "platform/ScreenCaptureService.h"

namespace platform::linux_gst {

// The GStreamer and PulseAudio half of the platform, built as a module of its own: the executable
// loads it, and with it the forty-odd libraries it needs, only when a probe or a recording first
// asks for content, so that the process reaches main, and holds SIGINT, within a few
// milliseconds. Made once and never destroyed: the process ends without tearing it down.
class MediaServices {
 public:
  virtual ~MediaServices() = default;
  virtual ScreenCaptureService& screenCapture() = 0;
  virtual AudioDeviceDiscovery& audioDevices() = 0;
};

}  // namespace platform::linux_gst

// The digest of the interface above that the module was built with. The executable refuses a
// module with another one: a module left from another build would crash on its first call.
extern "C" const char tessaloquinMediaInterface[];

// The module's entry, found by name: silences the libraries' logging, initialises GStreamer and
// starts the loop thread. Throws PlatformError when that fails.
extern "C" platform::linux_gst::MediaServices* tessaloquinMakeMediaServices();
