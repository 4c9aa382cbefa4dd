#pragma once

#include "platform/ScreenCaptureService.h"
#include "platform/linux/GLibLoopThread.h"

namespace platform::linux_gst {

// The capture service over PulseAudio (or PipeWire's pulse server) and GStreamer. Content
// queries and every stream run on `loop`, which outlives the service.
class GstScreenCapture : public ScreenCaptureService {
 public:
  explicit GstScreenCapture(GLibLoopThread& loop) : loop_(loop) {}

  std::string errorTypeName() const override;
  void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                           ContentCompletion completion) override;
  std::shared_ptr<ContentFilter> makeContentFilter(
      std::shared_ptr<const Display> display,
      std::vector<std::shared_ptr<const RunningApplication>> excludingApplications) override;
  std::shared_ptr<Stream> makeStream(std::shared_ptr<ContentFilter> filter,
                                     const StreamConfiguration& configuration,
                                     std::weak_ptr<StreamDelegate> delegate) override;
  std::shared_ptr<RecordingOutput> makeRecordingOutput(
      const RecordingOutputConfiguration& configuration,
      std::weak_ptr<RecordingOutputDelegate> delegate) override;

 private:
  GLibLoopThread& loop_;
};

}  // namespace platform::linux_gst
