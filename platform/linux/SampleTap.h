#pragma once

#include <memory>
#include <vector>

#include "platform/ScreenCaptureService.h"

typedef struct _GstPad GstPad;

namespace platform::linux_gst {

// A stream output that hears of the buffers of one type.
struct OutputTarget {
  std::weak_ptr<StreamOutput> output;
};

// Hands every buffer that passes `pad`, tagged with `type`, to each target's output in place, as
// frames of `layout` stamped with their running time, on
// GStreamer's streaming thread of that pad, one buffer at a time: the buffer is mapped, lent for
// the call and unmapped. An output that is gone is skipped. Returns the probe id, which the
// caller removes before it drops the pipeline.
unsigned long installSampleTap(GstPad* pad, StreamOutputType type, SampleLayout layout,
                               std::vector<OutputTarget> targets);

}  // namespace platform::linux_gst
