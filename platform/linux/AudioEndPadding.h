#pragma once

#include <gst/gst.h>

namespace platform::linux_gst {

// An encoder that drops a partial last frame at the end of stream (voaacenc) is given one frame
// of silence before the end, so the last milliseconds of audio are kept. The probe runs on the
// mixer's streaming thread, which also runs the encoder, as no queue lies between them. The
// owner keeps this object until the pipeline has stopped.
class AudioEndPadding {
 public:
  // `encoderInput` carries interleaved 16-bit audio of `channels` at `sampleRate` into an
  // encoder of `samplesPerEncodedFrame`.
  AudioEndPadding(GstElement* encoderInput, int sampleRate, int channels,
                  int samplesPerEncodedFrame);

 private:
  static GstPadProbeReturn onEncoderInput(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  const int sampleRate_;
  const int bytesPerFrame_;  // one 16-bit sample of every channel
  const int samplesPerEncodedFrame_;
  // The mixer's streaming thread only.
  GstClockTime audioEnd_ = GST_CLOCK_TIME_NONE;
};

}  // namespace platform::linux_gst
