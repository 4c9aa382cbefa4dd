#pragma once

#include <gst/gst.h>

#include <cstdint>

namespace platform::linux_gst {

// The movie's video track: a black 16×16 H.264 picture, a few times a second, which only has to
// be there and to span the audio. Rather than encode the same black picture again and again,
// two encoded intra frames are handed out in turn (consecutive IDR pictures must differ in their
// picture id, and these two differ in nothing else), each stamped with the time of the mix
// buffer it accompanies. So the track starts with the mix, costs no encoder, and each frame
// claims 1 ms, which only the last one keeps (the others last until the next), so the video
// never outlasts the audio.
//
// The source is an appsrc of the pipeline; the mixer's streaming thread feeds it through a probe
// on the mixer's output. End-of-stream reaches it as it reaches every source of the pipeline.
// The owner keeps this object until the pipeline has stopped.
class PlaceholderVideo {
 public:
  // Configures `appsrc` and feeds it from now on, as `mixer` puts out the mix.
  PlaceholderVideo(GstElement* appsrc, GstElement* mixer, int framesPerSecond);

 private:
  static GstPadProbeReturn onMixBuffer(GstPad*, GstPadProbeInfo* info, gpointer self);
  void pushFrame(GstClockTime time);

  GstElement* const source_;
  const GstClockTime frameInterval_;
  // The mixer's streaming thread only.
  GstClockTime nextFrame_ = GST_CLOCK_TIME_NONE;
  std::uint64_t framesPushed_ = 0;
};

}  // namespace platform::linux_gst
