#pragma once

#include <gst/gst.h>

namespace platform::linux_gst {

// An encoder that drops a partial last frame at the end of stream (voaacenc) is given one frame
// of silence before the end, so the last milliseconds of audio are kept. `encoderInput` is the
// pad that carries interleaved 16-bit audio of `channels` at `sampleRate` into an encoder of
// `samplesPerEncodedFrame`; the probe on it runs on the mixer's streaming thread, which also
// runs the encoder, as no queue lies between them. Returns the probe's id: the probe owns its
// state, which GStreamer frees once the probe is removed and no call of it is running.
unsigned long padAudioEnd(GstPad* encoderInput, int sampleRate, int channels,
                          int samplesPerEncodedFrame);

}  // namespace platform::linux_gst
