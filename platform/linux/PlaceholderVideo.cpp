#include "platform/linux/PlaceholderVideo.h"

#include <gst/app/gstappsrc.h>

#include <array>
#include <cstdint>

namespace platform::linux_gst {

namespace {

// x264 (ultrafast, zerolatency, every frame a keyframe) on a black 16×16 I420 picture at ten
// frames a second: its decoder configuration (profile constrained baseline, level 2.1, with the
// sequence and picture parameter sets) and its first two frames, each one IDR slice with a
// four-byte length before it.
constexpr std::array<std::uint8_t, 40> kDecoderConfiguration = {
    0x01, 0x42, 0xc0, 0x15, 0xff, 0xe1, 0x00, 0x19, 0x67, 0x42, 0xc0, 0x15, 0xdd, 0xec,
    0x05, 0xa8, 0x30, 0x30, 0x35, 0x28, 0x00, 0x00, 0x03, 0x00, 0x08, 0x00, 0x00, 0x03,
    0x00, 0xa4, 0x78, 0xb1, 0x7c, 0x01, 0x00, 0x04, 0x68, 0xce, 0x3c, 0x80};
constexpr std::array<std::array<std::uint8_t, 15>, 2> kFrames = {{
    {0x00, 0x00, 0x00, 0x0b, 0x65, 0x88, 0x84, 0x06, 0xa8, 0x93, 0x0a, 0x00, 0x03, 0xfb, 0xf8},
    {0x00, 0x00, 0x00, 0x0b, 0x65, 0x88, 0x82, 0x01, 0xaa, 0x24, 0xc2, 0x80, 0x00, 0xfe, 0xfe},
}};
constexpr int kSide = 16;
constexpr GstClockTime kFrameClaim = GST_MSECOND;

GstBuffer* wrap(const std::uint8_t* data, gsize size) {
  return gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, const_cast<std::uint8_t*>(data),
                                     size, 0, size, nullptr, nullptr);
}

// The mixer's streaming thread only, once fed.
class PlaceholderVideo {
 public:
  PlaceholderVideo(GstElement* appsrc, int framesPerSecond)
      : source_(appsrc), frameInterval_(GST_SECOND / framesPerSecond) {}

  void onMixBuffer(GstBuffer* mix) {
    if (!GST_BUFFER_PTS_IS_VALID(mix)) return;
    const GstClockTime start = GST_BUFFER_PTS(mix);
    const GstClockTime end =
        start + (GST_BUFFER_DURATION_IS_VALID(mix) ? GST_BUFFER_DURATION(mix) : 1);
    if (!GST_CLOCK_TIME_IS_VALID(nextFrame_)) nextFrame_ = start;
    for (; nextFrame_ < end; nextFrame_ += frameInterval_) pushFrame(nextFrame_);
  }

 private:
  void pushFrame(GstClockTime time) {
    const auto& frame = kFrames[framesPushed_++ % kFrames.size()];
    GstBuffer* buffer = wrap(frame.data(), frame.size());
    GST_BUFFER_PTS(buffer) = time;
    GST_BUFFER_DTS(buffer) = time;
    GST_BUFFER_DURATION(buffer) = kFrameClaim;
    // Refused only once the source has ended, when no frame is wanted any more.
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
  }

  GstElement* const source_;
  const GstClockTime frameInterval_;
  GstClockTime nextFrame_ = GST_CLOCK_TIME_NONE;
  std::uint64_t framesPushed_ = 0;
};

}  // namespace

unsigned long feedPlaceholderVideo(GstElement* appsrc, GstPad* mixed, int framesPerSecond) {
  GstBuffer* configuration = wrap(kDecoderConfiguration.data(), kDecoderConfiguration.size());
  GstCaps* caps = gst_caps_new_simple(
      "video/x-h264", "stream-format", G_TYPE_STRING, "avc", "alignment", G_TYPE_STRING, "au",
      "width", G_TYPE_INT, kSide, "height", G_TYPE_INT, kSide, "framerate", GST_TYPE_FRACTION,
      framesPerSecond, 1, "codec_data", GST_TYPE_BUFFER, configuration, nullptr);
  gst_buffer_unref(configuration);
  // A live source of no latency of its own; left at the defaults it reports none that it can
  // bear either, and the pipeline's latency cannot be configured.
  g_object_set(appsrc, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "min-latency",
               gint64{0}, "max-latency", gint64{-1}, nullptr);
  gst_caps_unref(caps);
  return gst_pad_add_probe(
      mixed, GST_PAD_PROBE_TYPE_BUFFER,
      [](GstPad*, GstPadProbeInfo* info, gpointer video) {
        static_cast<PlaceholderVideo*>(video)->onMixBuffer(GST_PAD_PROBE_INFO_BUFFER(info));
        return GST_PAD_PROBE_OK;
      },
      new PlaceholderVideo(appsrc, framesPerSecond),
      [](gpointer video) { delete static_cast<PlaceholderVideo*>(video); });
}

}  // namespace platform::linux_gst
