// The Linux platform: PulseAudio (or PipeWire's pulse server) for content and devices,
// GStreamer for capture and recording.
//
// create:  makeSystemPlatform() initialises GStreamer and starts the loop thread, a private GLib
//          main context that every content query, bus watch and pipeline state change runs on.
// start:   streams build and start their pipelines on the loop thread (CaptureStream.cpp).
// samples: streaming threads copy audio buffers and post them to the consumer's queues.
// stop:    EOS is sent from the loop thread; the bus reports the end of the file there.
// finish:  the platform outlives every session; destroying it quits and joins the loop thread.
//
// Device discovery is synchronous by contract and runs its own short-lived PulseAudio loop on
// the caller's thread. The dispatch service is the POSIX one.
#include <gst/gst.h>

#include "platform/PlatformServices.h"
#include "platform/linux/GLibLoopThread.h"
#include "platform/linux/GstScreenCapture.h"
#include "platform/linux/PulseDeviceDiscovery.h"
#include "platform/posix/PosixDispatch.h"

namespace platform {

namespace {

class LinuxPlatform final : public PlatformServices {
 public:
  LinuxPlatform() : screenCapture_(loop_) {}

  ScreenCaptureService& screenCapture() override { return screenCapture_; }
  AudioDeviceDiscovery& audioDevices() override { return audioDevices_; }
  Dispatch& dispatch() override { return dispatch_; }

 private:
  // Declared first so that it is destroyed last.
  posix::PosixDispatch dispatch_;
  linux_gst::GLibLoopThread loop_;
  linux_gst::GstScreenCapture screenCapture_;
  linux_gst::PulseDeviceDiscovery audioDevices_;
};

}  // namespace

std::unique_ptr<PlatformServices> makeSystemPlatform() {
  gst_init(nullptr, nullptr);
  return std::make_unique<LinuxPlatform>();
}

}  // namespace platform
