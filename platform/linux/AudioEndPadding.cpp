#include "platform/linux/AudioEndPadding.h"

namespace platform::linux_gst {

namespace {

// The mixer's streaming thread only.
struct AudioEnd {
  const int sampleRate;
  const int bytesPerFrame;  // one 16-bit sample of every channel
  const int samplesPerEncodedFrame;
  GstClockTime end = GST_CLOCK_TIME_NONE;
};

GstPadProbeReturn onEncoderInput(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  auto* audio = static_cast<AudioEnd*>(data);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer)) {
      audio->end = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
    }
    return GST_PAD_PROBE_OK;
  }
  if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS ||
      !GST_CLOCK_TIME_IS_VALID(audio->end)) {
    return GST_PAD_PROBE_OK;
  }
  // This pad already counts as ended, so the silence goes straight to the encoder.
  GstPad* encoder = gst_pad_get_peer(pad);
  if (!encoder) return GST_PAD_PROBE_OK;
  // Completes whatever part of a frame the encoder holds; what silence is left over, it drops.
  const gsize bytes = static_cast<gsize>(audio->samplesPerEncodedFrame) * audio->bytesPerFrame;
  GstBuffer* silence = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  gst_buffer_memset(silence, 0, 0, bytes);
  GST_BUFFER_PTS(silence) = audio->end;
  GST_BUFFER_DURATION(silence) =
      gst_util_uint64_scale_int(audio->samplesPerEncodedFrame, GST_SECOND, audio->sampleRate);
  gst_pad_chain(encoder, silence);
  gst_object_unref(encoder);
  return GST_PAD_PROBE_OK;
}

}  // namespace

unsigned long padAudioEnd(GstPad* encoderInput, int sampleRate, int channels,
                          int samplesPerEncodedFrame) {
  return gst_pad_add_probe(
      encoderInput,
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      onEncoderInput, new AudioEnd{sampleRate, 2 * channels, samplesPerEncodedFrame},
      [](gpointer audio) { delete static_cast<AudioEnd*>(audio); });
}

}  // namespace platform::linux_gst
