#pragma once

#include <gst/gst.h>

namespace platform::linux_gst {

// The movie's video track: a black 16×16 H.264 picture, a few times a second, which only has to
// be there and to span the audio. Rather than encode the same black picture again and again,
// stored frames are handed out: an intra frame every five seconds (two in turn, as consecutive
// IDR pictures must differ in their picture id) and between them predicted frames that change
// nothing, each stamped with the time of the mix buffer it accompanies. So the track starts
// with the mix, costs no encoder, and each frame claims 1 ms, which only the last one keeps (the
// others last until the next), so the video never outlasts the audio.
//
// Configures `appsrc` and feeds it from a probe on `mixed`, the mixer's output pad, on the
// mixer's streaming thread. End-of-stream reaches the appsrc as it reaches every source of the
// pipeline. Returns the probe's id: the probe owns the feeder, which GStreamer frees once the
// probe is removed and no call of it is running.
unsigned long feedPlaceholderVideo(GstElement* appsrc, GstPad* mixed, int framesPerSecond);

}  // namespace platform::linux_gst
