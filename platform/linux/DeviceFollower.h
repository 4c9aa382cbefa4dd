#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/linux/GLibLoopThread.h"
#include "platform/linux/PlaybackSurvey.h"

namespace platform::linux_gst {

// Keeps a running capture's record streams where the user's sound is, through a subscription to
// the sound server's events:
// - system audio is the computer's sound, whichever output plays it: when the default output
//   changes, the system stream is moved to the new default's monitor;
// - the microphone never records a monitor: when the server moves its stream onto one (its
//   input went away and the fallback is a monitor), `microphoneOnMonitor` hears it, and again,
//   with false, when the server moves it onto an input, so that the capture can record silence
//   meanwhile and say the microphone is lost and when it is back;
// - neither stream stays muted or turned down: servers keep a stream's mute and volume for the
//   application and restore them on its later streams, which would record silence, or nearly;
// - sound that an application plays where neither stream hears it (on another output than the
//   default), and an output muted or turned down so far that system audio records next to
//   nothing, are told to `routingFindings`, and again whenever that changes (PlaybackSurvey.h).
// Following is best effort: when the server cannot be reached the capture itself reports it.
//
// Made and destroyed on the loop thread, whose GLib context runs every PulseAudio callback;
// destruction disconnects and detaches them, and must not happen from within one of them.
class DeviceFollower {
 public:
  // `microphoneOnMonitor` and `routingFindings` run on the loop thread, from a PulseAudio
  // callback.
  DeviceFollower(GLibLoopThread& loop, RecordStreams streams,
                 std::function<void(bool onMonitor)> microphoneOnMonitor,
                 PlaybackSurvey::Tell routingFindings);
  ~DeviceFollower();
  DeviceFollower(const DeviceFollower&) = delete;
  DeviceFollower& operator=(const DeviceFollower&) = delete;

  struct State;

 private:
  State* state_;
};

}  // namespace platform::linux_gst
