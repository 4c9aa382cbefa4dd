// The Linux platform: PulseAudio (or PipeWire's pulse server) for content and devices,
// GStreamer for capture and recording.
//
// create:  makeSystemPlatform() makes only the dispatch service, so that the process reaches its
//          run quickly and a usage error costs nothing more.
// start:   the first content query (the probe's, or the start's first step) initialises the media
//          libraries on the caller's thread: their logging silenced, enough descriptors checked,
//          GStreamer initialised and the loop thread started, a private GLib main context that
//          every content query, bus watch and pipeline state change runs on. When that fails,
//          the query fails with the reason, and so does the stage.
//          Streams build and start their pipelines on the loop thread (CaptureStream.cpp).
// samples: streaming threads copy audio buffers and post them to the consumer's queues.
// stop:    EOS is sent from the loop thread; the bus reports the end of the file there.
// finish:  the platform outlives every session; the process ends without tearing it down.
//
// Device discovery is synchronous by contract and runs its own short-lived PulseAudio loop on
// the caller's thread. The dispatch service is the POSIX one.
#include <gst/gst.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/PlatformServices.h"
#include "platform/linux/Errors.h"
#include "platform/linux/GLibLoopThread.h"
#include "platform/linux/GstScreenCapture.h"
#include "platform/linux/PulseDeviceDiscovery.h"
#include "platform/posix/PosixDispatch.h"

namespace platform {

namespace {

using linux_gst::serviceError;
using linux_gst::ServiceErrorCode;

// A recording with a microphone holds 25 descriptors at its peak, 18 more than when the first
// query starts; the rest is room for what a server or an output may add.
constexpr int kDescriptorsNeeded = 40;

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

// GLib ends the process when it cannot make a descriptor, so what a recording needs is claimed
// once, up front, and given back.
bool descriptorsLeft(int count) {
  std::vector<int> claimed;
  for (int index = 0; index < count; ++index) {
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    if (fd == -1) break;
    claimed.push_back(fd);
  }
  const bool enough = static_cast<int>(claimed.size()) == count;
  for (const int fd : claimed) ::close(fd);
  return enough;
}

// What the first content query makes: the loop thread and the services over it.
struct MediaServices {
  linux_gst::GLibLoopThread loop;
  linux_gst::GstScreenCapture screenCapture{loop};
};

std::unique_ptr<MediaServices> initialiseMedia() {
  silenceLibraryLogging();
  if (!descriptorsLeft(kDescriptorsNeeded)) {
    throw serviceError(ServiceErrorCode::descriptorsRefused,
                       "Too few file descriptors are left for a recording.");
  }
  GError* error = nullptr;
  if (!gst_init_check(nullptr, nullptr, &error)) {
    PlatformError failure =
        error ? linux_gst::fromGError(error)
              : serviceError(ServiceErrorCode::mediaUnavailable, "GStreamer did not initialise.");
    g_clear_error(&error);
    throw failure;
  }
  gst_debug_set_active(FALSE);
  gst_debug_remove_log_function(nullptr);
  try {
    return std::make_unique<MediaServices>();
  } catch (const std::system_error&) {
    throw serviceError(ServiceErrorCode::mediaUnavailable, "The loop thread did not start.");
  }
}

// Hands every call to the GStreamer service, which it makes on the first content query. Until
// a query has succeeded nothing else is called: the core asks for content first.
class LazyScreenCapture final : public ScreenCaptureService {
 public:
  std::string errorTypeName() const override { return linux_gst::kErrorTypeName; }

  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           ContentCompletion completion) override {
    std::call_once(initialised_, [this] {
      try {
        media_ = initialiseMedia();
      } catch (const PlatformError& error) {
        failure_ = error;
      }
    });
    if (!media_) {
      completion(std::nullopt, failure_);
      return;
    }
    media_->screenCapture.getShareableContent(excludingDesktopWindows, onScreenWindowsOnly,
                                              std::move(completion));
  }
  std::shared_ptr<ContentFilter> makeContentFilter(
      std::shared_ptr<const Display> display,
      std::vector<std::shared_ptr<const RunningApplication>> excludingApplications) override {
    return media().makeContentFilter(std::move(display), std::move(excludingApplications));
  }
  std::shared_ptr<Stream> makeStream(std::shared_ptr<ContentFilter> filter,
                                     const StreamConfiguration& configuration,
                                     std::weak_ptr<StreamDelegate> delegate) override {
    return media().makeStream(std::move(filter), configuration, std::move(delegate));
  }
  std::shared_ptr<RecordingOutput> makeRecordingOutput(
      const RecordingOutputConfiguration& configuration,
      std::weak_ptr<RecordingOutputDelegate> delegate) override {
    return media().makeRecordingOutput(configuration, std::move(delegate));
  }

 private:
  ScreenCaptureService& media() {
    if (!media_) throw failure_.value_or(serviceError(ServiceErrorCode::mediaUnavailable, ""));
    return media_->screenCapture;
  }

  std::once_flag initialised_;
  // Written once under initialised_, read-only after.
  std::unique_ptr<MediaServices> media_;
  std::optional<PlatformError> failure_;
};

class LinuxPlatform final : public PlatformServices {
 public:
  ScreenCaptureService& screenCapture() override { return screenCapture_; }
  AudioDeviceDiscovery& audioDevices() override { return audioDevices_; }
  Dispatch& dispatch() override { return dispatch_; }

 private:
  // Declared first so that it is destroyed last.
  posix::PosixDispatch dispatch_;
  LazyScreenCapture screenCapture_;
  linux_gst::PulseDeviceDiscovery audioDevices_;
};

}  // namespace

std::unique_ptr<PlatformServices> makeSystemPlatform() {
  return std::make_unique<LinuxPlatform>();
}

}  // namespace platform
