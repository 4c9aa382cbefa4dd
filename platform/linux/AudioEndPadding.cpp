#include "platform/linux/AudioEndPadding.h"

namespace platform::linux_gst {

AudioEndPadding::AudioEndPadding(GstElement* encoderInput, int sampleRate, int channels,
                                 int samplesPerEncodedFrame)
    : sampleRate_(sampleRate),
      bytesPerFrame_(2 * channels),
      samplesPerEncodedFrame_(samplesPerEncodedFrame) {
  GstPad* pad = gst_element_get_static_pad(encoderInput, "src");
  gst_pad_add_probe(
      pad,
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      onEncoderInput, this, nullptr);
  gst_object_unref(pad);
}

GstPadProbeReturn AudioEndPadding::onEncoderInput(GstPad* pad, GstPadProbeInfo* info,
                                                  gpointer self) {
  auto* padding = static_cast<AudioEndPadding*>(self);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer)) {
      padding->audioEnd_ = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
    }
    return GST_PAD_PROBE_OK;
  }
  if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS ||
      !GST_CLOCK_TIME_IS_VALID(padding->audioEnd_)) {
    return GST_PAD_PROBE_OK;
  }
  // This pad already counts as ended, so the silence goes straight to the encoder.
  GstPad* encoder = gst_pad_get_peer(pad);
  if (!encoder) return GST_PAD_PROBE_OK;
  // Completes whatever part of a frame the encoder holds; what silence is left over, it drops.
  const gsize bytes =
      static_cast<gsize>(padding->samplesPerEncodedFrame_) * padding->bytesPerFrame_;
  GstBuffer* silence = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  gst_buffer_memset(silence, 0, 0, bytes);
  GST_BUFFER_PTS(silence) = padding->audioEnd_;
  GST_BUFFER_DURATION(silence) =
      gst_util_uint64_scale_int(padding->samplesPerEncodedFrame_, GST_SECOND, padding->sampleRate_);
  gst_pad_chain(encoder, silence);
  gst_object_unref(encoder);
  return GST_PAD_PROBE_OK;
}

}  // namespace platform::linux_gst
