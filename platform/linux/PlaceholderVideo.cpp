#include "platform/linux/PlaceholderVideo.h"

#include <gst/app/gstappsrc.h>

#include <array>
#include <cstdint>

namespace platform::linux_gst {

namespace {

// x264 (ultrafast, zerolatency, constant quantizer 30, no access unit delimiters) on a black
// 16×16 I420 picture at ten frames a second: its decoder configuration (profile constrained
// baseline, level 1.0, with the sequence and picture parameter sets) and the intra frames that
// start its groups of pictures, each one IDR slice with a four-byte length before it.
constexpr std::array<std::uint8_t, 41> kDecoderConfiguration = {
    0x01, 0x42, 0xc0, 0x0a, 0xff, 0xe1, 0x00, 0x1a, 0x67, 0x42, 0xc0, 0x0a, 0xda, 0x7b,
    0x01, 0x6a, 0x0c, 0x0c, 0x0d, 0x4a, 0x00, 0x00, 0x03, 0x00, 0x02, 0x00, 0x00, 0x03,
    0x00, 0x29, 0x1e, 0x24, 0x4d, 0x40, 0x01, 0x00, 0x04, 0x68, 0xce, 0x04, 0x72};
constexpr std::array<std::array<std::uint8_t, 14>, 2> kIntraFrames = {{
    {0x00, 0x00, 0x00, 0x0a, 0x65, 0x88, 0x84, 0x3a, 0x26, 0x28, 0x00, 0x08, 0x6f, 0xe0},
    {0x00, 0x00, 0x00, 0x0a, 0x65, 0x88, 0x82, 0x0e, 0x89, 0x8a, 0x00, 0x02, 0x1b, 0xf8},
}};
// Between them x264 writes predicted frames of one skipped macroblock, which differ only in
// their frame number, counted from the intra frame modulo 16: after the length, the unit's
// header (a reference slice), then first_mb_in_slice, slice_type (P) and pic_parameter_set_id
// in seven bits, the frame number in the next four, and the same bits after.
constexpr int kFrameNumbers = 16;
using PredictedFrame = std::array<std::uint8_t, 8>;
constexpr std::array<PredictedFrame, kFrameNumbers> predictedFrames() {
  std::array<PredictedFrame, kFrameNumbers> frames{};
  for (int number = 0; number < kFrameNumbers; ++number) {
    const auto high = static_cast<std::uint8_t>(0x9a | (number >> 3));
    const auto low = static_cast<std::uint8_t>(((number & 7) << 5) | 0x02);
    frames[number] = {0x00, 0x00, 0x00, 0x04, 0x41, high, low, 0x94};
  }
  return frames;
}
constexpr std::array<PredictedFrame, kFrameNumbers> kPredictedFrames = predictedFrames();
// The muxer keeps an index entry in memory, for the whole recording, for each sync sample of the
// video and starts a fragment at each: an intra frame every five seconds rather than at every
// frame takes the video's share of the growth from two thirds to almost nothing (see "Memory
// over long recordings" in docs/linux-recording.md); a player seeks from at most 49 frames back.
constexpr int kSecondsPerIntraFrame = 5;
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
      : source_(appsrc),
        frameInterval_(GST_SECOND / framesPerSecond),
        framesPerGroup_(static_cast<std::uint64_t>(framesPerSecond) * kSecondsPerIntraFrame) {}

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
    GstBuffer* buffer = nextFrame();
    GST_BUFFER_PTS(buffer) = time;
    GST_BUFFER_DTS(buffer) = time;
    GST_BUFFER_DURATION(buffer) = kFrameClaim;
    // Refused only once the source has ended, when no frame is wanted any more.
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
  }

  GstBuffer* nextFrame() {
    const std::uint64_t group = framesPushed_ / framesPerGroup_;
    const std::uint64_t inGroup = framesPushed_++ % framesPerGroup_;
    if (inGroup == 0) {
      // Consecutive IDR pictures must differ in their picture id.
      const auto& frame = kIntraFrames[group % kIntraFrames.size()];
      return wrap(frame.data(), frame.size());
    }
    const auto& frame = kPredictedFrames[inGroup % kFrameNumbers];
    GstBuffer* buffer = wrap(frame.data(), frame.size());
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    return buffer;
  }

  GstElement* const source_;
  const GstClockTime frameInterval_;
  const std::uint64_t framesPerGroup_;
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
