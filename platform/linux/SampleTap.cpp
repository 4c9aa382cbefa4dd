// Sample delivery from GStreamer to the stream outputs.
//
// create:  installed on a source's pad while the pipeline is built (loop thread).
// samples: the probe runs on the source's streaming thread: it maps the buffer and calls each
//          output with a view of it, in place, rather than copying it to another thread; the
//          outputs only meter, under their own short locks. Gone outputs are skipped.
// finish:  the pipeline removes the probe before it is dropped; GStreamer then frees the tap.
#include "platform/linux/SampleTap.h"

#include <gst/gst.h>

#include "platform/linux/BorrowedSampleBuffer.h"

namespace platform::linux_gst {

namespace {

struct Tap {
  StreamOutputType type;
  SampleLayout layout;
  std::vector<OutputTarget> targets;
};

GstPadProbeReturn onBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* tap = static_cast<Tap*>(data);
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  GstMapInfo map;
  // A gap is the silence a source fills in while its server is gone: nothing arrived to meter,
  // and the per-source streams fill it from the time stamps.
  if (!buffer || GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_GAP) ||
      !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    return GST_PAD_PROBE_OK;
  }
  // Running time, which both sources share: they are stamped on the pipeline's clock.
  const std::optional<double> presentation =
      GST_BUFFER_PTS_IS_VALID(buffer)
          ? std::optional<double>(static_cast<double>(GST_BUFFER_PTS(buffer)) / GST_SECOND)
          : std::nullopt;
  const BorrowedSampleBuffer sample({reinterpret_cast<const std::byte*>(map.data), map.size},
                                    tap->layout, presentation);
  for (const auto& target : tap->targets) {
    if (auto output = target.output.lock()) output->streamDidOutputSampleBuffer(sample, tap->type);
  }
  gst_buffer_unmap(buffer, &map);
  return GST_PAD_PROBE_OK;
}

}  // namespace

unsigned long installSampleTap(GstPad* pad, StreamOutputType type, SampleLayout layout,
                               std::vector<OutputTarget> targets) {
  return gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onBuffer,
                           new Tap{type, layout, std::move(targets)},
                           [](gpointer data) { delete static_cast<Tap*>(data); });
}

}  // namespace platform::linux_gst
