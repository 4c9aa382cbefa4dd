#pragma once

#include <memory>

#include "platform/ScreenCaptureService.h"

namespace platform::linux_gst {

// Where the recording goes and whom to tell about it. The stream it is added to writes the
// file; this object only carries the configuration and reaches the weakly held delegate.
class GstRecordingOutput : public RecordingOutput {
 public:
  GstRecordingOutput(RecordingOutputConfiguration configuration,
                     std::weak_ptr<RecordingOutputDelegate> delegate)
      : configuration_(std::move(configuration)), delegate_(std::move(delegate)) {}

  const RecordingOutputConfiguration& configuration() const { return configuration_; }

  // Called on the service's loop thread; a delegate that is gone is skipped.
  void reportStarted() const {
    if (auto delegate = delegate_.lock()) delegate->recordingOutputDidStartRecording();
  }
  void reportFinished() const {
    if (auto delegate = delegate_.lock()) delegate->recordingOutputDidFinishRecording();
  }
  void reportFailed(const PlatformError& error) const {
    if (auto delegate = delegate_.lock()) delegate->recordingOutputDidFailWithError(error);
  }
  void reportStalled() const {
    if (auto delegate = delegate_.lock()) delegate->recordingOutputDidStallWriting();
  }
  void reportResumed(double stalledSeconds) const {
    if (auto delegate = delegate_.lock()) delegate->recordingOutputDidResumeWriting(stalledSeconds);
  }

 private:
  RecordingOutputConfiguration configuration_;
  std::weak_ptr<RecordingOutputDelegate> delegate_;
};

}  // namespace platform::linux_gst
