#pragma once

#include <gst/gst.h>

#include <atomic>

namespace platform::linux_gst {

// Keeps the movie's tracks to the span of its audio. In a fragmented movie each track starts at
// its own first sample, and its last sample lasts as long as its buffer says:
// - video frames from before the mix has begun are dropped, and each frame claims 1 ms, which
//   only the last one keeps (the others last until the next), so the video never outlasts the
//   audio;
// - an encoder that drops a partial last frame at the end of stream (voaacenc) is given one
//   frame of silence before the end, so the last milliseconds of audio are kept.
// The probes run on streaming threads: the mixer's (which also runs the audio encoder, as no
// queue lies between them) and the video source's (through encoder and parser). The owner keeps
// this object until the pipeline has stopped.
class TrackEdges {
 public:
  void watchMixStart(GstElement* mixer);
  // `videoParser` puts out the encoded frames, each a keyframe.
  void trimVideo(GstElement* videoParser);
  // `encoderInput` carries interleaved 16-bit audio of `channels` at `sampleRate`.
  void padAudioEnd(GstElement* encoderInput, int sampleRate, int channels,
                   int samplesPerEncodedFrame);

 private:
  static GstPadProbeReturn onMixBuffer(GstPad*, GstPadProbeInfo*, gpointer self);
  static GstPadProbeReturn onVideoFrame(GstPad*, GstPadProbeInfo*, gpointer self);
  static GstPadProbeReturn onEncoderInput(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  std::atomic<bool> mixStarted_{false};
  // The mixer's streaming thread only.
  GstClockTime audioEnd_ = GST_CLOCK_TIME_NONE;
  int sampleRate_ = 0;
  int bytesPerFrame_ = 0;  // one 16-bit sample of every channel
  int samplesPerEncodedFrame_ = 0;
};

}  // namespace platform::linux_gst
