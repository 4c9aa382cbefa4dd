// What the parent hears at once while recording: a source that stops delivering and comes back.
// The platform reports each loss as it notices it; a stream that stops altogether takes every
// captured source with it. Each source is reported lost once per loss, under sourceLock_, and
// the record goes out after the lock is released.
#include "capture/CaptureSession.h"
#include "capture/WarningRecords.h"

namespace capture {

using platform::StreamOutputType;

bool CaptureSession::isCaptured(StreamOutputType source) const {
  return source == StreamOutputType::audio ||
         (source == StreamOutputType::microphone && captureMicrophone_);
}

void CaptureSession::reportSourceLost(StreamOutputType source,
                                      const platform::PlatformError& error) {
  if (!isCaptured(source)) return;
  {
    std::lock_guard guard(sourceLock_);
    if (!lostSources_.insert(source).second) return;
  }
  events_.emit(sourceLostWarning(*sourceName(source), error));
}

void CaptureSession::streamSourceWasLost(StreamOutputType source,
                                         const platform::PlatformError& error) {
  reportSourceLost(source, error);
}

void CaptureSession::streamSourceWasRestored(StreamOutputType source, double gapSeconds) {
  {
    std::lock_guard guard(sourceLock_);
    if (lostSources_.erase(source) == 0) return;
  }
  events_.emit(sourceRestoredWarning(*sourceName(source), gapSeconds));
}

}  // namespace capture
