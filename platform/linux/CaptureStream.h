#pragma once

#include <memory>
#include <vector>

#include "platform/ScreenCaptureService.h"
#include "platform/linux/GLibLoopThread.h"
#include "platform/linux/GstRecordingOutput.h"
#include "platform/linux/PulseContent.h"
#include "platform/linux/SampleTap.h"

namespace platform::linux_gst {

struct StreamBridge;

// A capture of one output's monitor (and optionally an input) into sample buffers and a movie.
// The calls only record what is asked and post the work to the loop thread, which owns the
// pipeline and calls every completion and delegate; see CaptureStream.cpp.
class CaptureStream : public Stream {
 public:
  // `display` is null when the filter did not come from this service; starting then fails.
  CaptureStream(GLibLoopThread& loop, std::shared_ptr<const PulseDisplay> display,
                const StreamConfiguration& configuration, std::weak_ptr<StreamDelegate> delegate);

  void addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                       std::shared_ptr<Queue> sampleHandlerQueue) override;
  void addRecordingOutput(std::shared_ptr<RecordingOutput> recordingOutput) override;
  void startCapture(ErrorCompletion completion) override;
  void stopCapture(ErrorCompletion completion) override;

 private:
  GLibLoopThread& loop_;
  const std::shared_ptr<const PulseDisplay> display_;
  const StreamConfiguration configuration_;
  const std::shared_ptr<StreamBridge> bridge_;

  // The owner's thread, until capture starts; read-only after.
  std::vector<OutputTarget> systemTargets_;
  std::vector<OutputTarget> microphoneTargets_;
  std::shared_ptr<GstRecordingOutput> recording_;
};

}  // namespace platform::linux_gst
