// The media module's entry.
//
// create:  tessaloquinMakeMediaServices() runs once, on the thread of the first content query:
//          logging silenced, GStreamer initialised, then the loop thread started, a private GLib
//          main context that every content query, bus watch and pipeline state change runs on.
// start:   streams build and start their pipelines on the loop thread (CaptureStream.cpp).
// samples: streaming threads lend each audio buffer to the consumer's outputs in place.
// stop:    the loop thread has EOS sent into the sources; the bus reports the end of the file
//          there.
// finish:  the services live until the process ends.
//
// Device discovery is synchronous by contract and runs its own short-lived PulseAudio loop on
// the caller's thread.
#include "platform/linux/MediaServices.h"

#include <fcntl.h>
#include <gst/gst.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "platform/linux/Errors.h"
#include "platform/linux/GLibLoopThread.h"
#include "platform/linux/GstScreenCapture.h"
#include "platform/linux/PulseDeviceDiscovery.h"

namespace platform::linux_gst {

namespace {

// The tool writes nothing on standard error, and standard output carries records alone. GLib
// would print warnings there (and debug output on stdout), GStreamer its debug log when asked
// through the environment, and libpulse, which has no switch for it, its warnings through
// stdio's stderr (a missing cookie, for one). That stream is replaced with one that drops
// everything; descriptor 2 itself stays, so a crash or a sanitizer can still report.
void silenceLibraryLogging() {
  g_log_set_writer_func(
      [](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
      nullptr, nullptr);
  g_set_print_handler([](const gchar*) {});
  g_set_printerr_handler([](const gchar*) {});
  static cookie_io_functions_t discard{
      nullptr, [](void*, const char*, std::size_t size) { return static_cast<ssize_t>(size); },
      nullptr, nullptr};
  if (std::FILE* sink = fopencookie(nullptr, "w", discard)) stderr = sink;
}

// The registry scanner that gst_init starts when its cache is stale (always, without a home
// folder) prints on the descriptor it inherits, so descriptor 2 points at /dev/null meanwhile.
class DescriptorTwoSilenced {
 public:
  DescriptorTwoSilenced() : saved_(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0)) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null != -1) {
      ::dup2(null, STDERR_FILENO);
      ::close(null);
    }
  }
  ~DescriptorTwoSilenced() {
    if (saved_ == -1) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  DescriptorTwoSilenced(const DescriptorTwoSilenced&) = delete;
  DescriptorTwoSilenced& operator=(const DescriptorTwoSilenced&) = delete;

 private:
  const int saved_;
};

void initialiseGStreamer() {
  GError* error = nullptr;
  const bool initialised = [&] {
    DescriptorTwoSilenced silenced;
    return gst_init_check(nullptr, nullptr, &error);
  }();
  if (!initialised) {
    PlatformError failure =
        error ? fromGError(error)
              : serviceError(ServiceErrorCode::mediaUnavailable, "GStreamer did not initialise.");
    g_clear_error(&error);
    throw failure;
  }
  gst_debug_set_active(FALSE);
  gst_debug_remove_log_function(nullptr);
}

class GStreamerServices final : public MediaServices {
 public:
  ScreenCaptureService& screenCapture() override { return screenCapture_; }
  AudioDeviceDiscovery& audioDevices() override { return audioDevices_; }

 private:
  GLibLoopThread loop_;
  GstScreenCapture screenCapture_{loop_};
  PulseDeviceDiscovery audioDevices_;
};

}  // namespace

}  // namespace platform::linux_gst

extern "C" const char tessaloquinMediaInterface[] = TESSALOQUIN_MEDIA_INTERFACE;

extern "C" platform::linux_gst::MediaServices* tessaloquinMakeMediaServices() {
  using namespace platform::linux_gst;
  silenceLibraryLogging();
  initialiseGStreamer();
  try {
    return new GStreamerServices;
  } catch (const std::system_error&) {
    throw serviceError(ServiceErrorCode::mediaUnavailable, "The loop thread did not start.");
  }
}
