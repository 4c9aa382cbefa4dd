#pragma once

#include <memory>
#include <vector>

#include "platform/ScreenCaptureService.h"

typedef struct _GstPad GstPad;

namespace platform::linux_gst {

// A stream output and the queue its buffers go to.
struct OutputTarget {
  std::weak_ptr<StreamOutput> output;
  std::shared_ptr<Queue> queue;
};

// Copies every buffer that passes `pad` and posts it, tagged with `type`, to each target's
// queue. The probe runs on GStreamer's streaming thread and only copies and posts; the output is
// locked on its queue and skipped when gone. Returns the probe id, which the caller removes
// before it drops the pipeline.
unsigned long installSampleTap(GstPad* pad, StreamOutputType type,
                               std::vector<OutputTarget> targets);

}  // namespace platform::linux_gst
