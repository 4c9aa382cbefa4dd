// The service's entry points.
//
// create:  owned by the platform object, which outlives every session.
// start:   getShareableContent() posts a content query to the loop thread; PulseAudio's GLib
//          adapter runs it there, and its completion is called on the loop thread. Filters,
//          streams and recording outputs are made on the caller's thread and run nothing.
// finish:  a finished query is freed by a task posted after the completion, once PulseAudio's
//          dispatch has returned.
#include "platform/linux/GstScreenCapture.h"

#include <pulse/glib-mainloop.h>

#include "platform/linux/CaptureStream.h"
#include "platform/linux/Errors.h"
#include "platform/linux/GstRecordingOutput.h"
#include "platform/linux/PulseContent.h"
#include "platform/linux/ServerSnapshot.h"

namespace platform::linux_gst {

namespace {

constexpr int kQueryTimeoutSeconds = 5;

// One content query in flight on the loop thread: its PulseAudio loop adapter and the query.
// Both are freed by a posted task, once the PulseAudio dispatch that completed them has
// returned.
struct ContentQuery {
  pa_glib_mainloop* pulseLoop = nullptr;
  std::unique_ptr<SnapshotQuery> query;
};

}  // namespace

std::string GstScreenCapture::errorTypeName() const {
  return kErrorTypeName;
}

void GstScreenCapture::getShareableContent(bool, bool, ContentCompletion completion) {
  loop_.post([&loop = loop_, completion = std::move(completion)]() mutable {
    auto* inFlight = new ContentQuery;
    inFlight->pulseLoop = pa_glib_mainloop_new(loop.context());
    inFlight->query = std::make_unique<SnapshotQuery>(
        pa_glib_mainloop_get_api(inFlight->pulseLoop), kQueryTimeoutSeconds,
        [&loop, inFlight, completion = std::move(completion)](
            std::optional<ServerSnapshot> snapshot, std::optional<PlatformError> error) {
          loop.post([inFlight] {
            inFlight->query.reset();
            pa_glib_mainloop_free(inFlight->pulseLoop);
            delete inFlight;
          });
          if (snapshot) {
            completion(contentOf(*snapshot), std::nullopt);
          } else {
            completion(std::nullopt, std::move(error));
          }
        });
  });
}

std::shared_ptr<ContentFilter> GstScreenCapture::makeContentFilter(
    std::shared_ptr<const Display> display,
    std::vector<std::shared_ptr<const RunningApplication>>) {
  return std::make_shared<PulseContentFilter>(
      std::dynamic_pointer_cast<const PulseDisplay>(std::move(display)));
}

std::shared_ptr<Stream> GstScreenCapture::makeStream(std::shared_ptr<ContentFilter> filter,
                                                     const StreamConfiguration& configuration,
                                                     std::weak_ptr<StreamDelegate> delegate) {
  auto pulseFilter = std::dynamic_pointer_cast<PulseContentFilter>(filter);
  return std::make_shared<CaptureStream>(loop_, pulseFilter ? pulseFilter->display() : nullptr,
                                         configuration, std::move(delegate));
}

std::shared_ptr<RecordingOutput> GstScreenCapture::makeRecordingOutput(
    const RecordingOutputConfiguration& configuration,
    std::weak_ptr<RecordingOutputDelegate> delegate) {
  return std::make_shared<GstRecordingOutput>(configuration, std::move(delegate));
}

}  // namespace platform::linux_gst
