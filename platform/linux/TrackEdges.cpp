#include "platform/linux/TrackEdges.h"

namespace platform::linux_gst {

namespace {

constexpr GstClockTime kVideoFrameClaim = GST_MSECOND;

void addProbe(GstElement* element, GstPadProbeType type, GstPadProbeCallback callback,
              gpointer self) {
  GstPad* pad = gst_element_get_static_pad(element, "src");
  gst_pad_add_probe(pad, type, callback, self, nullptr);
  gst_object_unref(pad);
}

}  // namespace

void TrackEdges::watchMixStart(GstElement* mixer) {
  addProbe(mixer, GST_PAD_PROBE_TYPE_BUFFER, onMixBuffer, this);
}

void TrackEdges::trimVideo(GstElement* videoParser) {
  addProbe(videoParser, GST_PAD_PROBE_TYPE_BUFFER, onVideoFrame, this);
}

void TrackEdges::padAudioEnd(GstElement* encoderInput, int sampleRate, int channels,
                             int samplesPerEncodedFrame) {
  sampleRate_ = sampleRate;
  bytesPerFrame_ = 2 * channels;
  samplesPerEncodedFrame_ = samplesPerEncodedFrame;
  addProbe(
      encoderInput,
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      onEncoderInput, this);
}

GstPadProbeReturn TrackEdges::onMixBuffer(GstPad*, GstPadProbeInfo*, gpointer self) {
  static_cast<TrackEdges*>(self)->mixStarted_.store(true, std::memory_order_release);
  return GST_PAD_PROBE_REMOVE;
}

GstPadProbeReturn TrackEdges::onVideoFrame(GstPad*, GstPadProbeInfo* info, gpointer self) {
  if (!static_cast<TrackEdges*>(self)->mixStarted_.load(std::memory_order_acquire)) {
    return GST_PAD_PROBE_DROP;
  }
  GstBuffer* frame = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
  GST_BUFFER_DURATION(frame) = kVideoFrameClaim;
  GST_PAD_PROBE_INFO_DATA(info) = frame;
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn TrackEdges::onEncoderInput(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
  auto* edges = static_cast<TrackEdges*>(self);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer)) {
      edges->audioEnd_ = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
    }
    return GST_PAD_PROBE_OK;
  }
  if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS ||
      !GST_CLOCK_TIME_IS_VALID(edges->audioEnd_)) {
    return GST_PAD_PROBE_OK;
  }
  // This pad already counts as ended, so the silence goes straight to the encoder.
  GstPad* encoder = gst_pad_get_peer(pad);
  if (!encoder) return GST_PAD_PROBE_OK;
  // Completes whatever part of a frame the encoder holds; what silence is left over, it drops.
  const gsize bytes = static_cast<gsize>(edges->samplesPerEncodedFrame_) * edges->bytesPerFrame_;
  GstBuffer* silence = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  gst_buffer_memset(silence, 0, 0, bytes);
  GST_BUFFER_PTS(silence) = edges->audioEnd_;
  GST_BUFFER_DURATION(silence) =
      gst_util_uint64_scale_int(edges->samplesPerEncodedFrame_, GST_SECOND, edges->sampleRate_);
  gst_pad_chain(encoder, silence);
  gst_object_unref(encoder);
  return GST_PAD_PROBE_OK;
}

}  // namespace platform::linux_gst
