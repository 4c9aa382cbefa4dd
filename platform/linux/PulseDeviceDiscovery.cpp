// Microphones from the sound server.
//
// create:  owned by the platform object.
// start:   each call connects afresh on the caller's thread, running a private PulseAudio loop
//          there until the snapshot is in or the time-out passes; nothing else is waited for.
// finish:  the query and its loop are freed before the call returns.
#include "platform/linux/PulseDeviceDiscovery.h"

#include <pulse/mainloop.h>

#include "platform/linux/Errors.h"
#include "platform/linux/PulseContent.h"
#include "platform/linux/ServerSnapshot.h"

namespace platform::linux_gst {

namespace {

constexpr int kTimeoutSeconds = 5;

// The interface is synchronous, so the caller's own thread runs the loop until the snapshot is
// in; no other thread is waited for. Throws the query's error.
ServerSnapshot readServer() {
  pa_mainloop* loop = pa_mainloop_new();
  std::optional<ServerSnapshot> result;
  std::optional<PlatformError> failure;
  if (!loop) {
    throw serviceError(ServiceErrorCode::memoryRefused,
                       "The system refused the sound-server library its loop.");
  }
  {
    SnapshotQuery query(
        pa_mainloop_get_api(loop), kTimeoutSeconds,
        [&](std::optional<ServerSnapshot> snapshot, std::optional<PlatformError> error) {
          result = std::move(snapshot);
          failure = std::move(error);
          pa_mainloop_quit(loop, 0);
        });
    pa_mainloop_run(loop, nullptr);
  }
  pa_mainloop_free(loop);
  if (!result) {
    throw failure.value_or(
        serviceError(ServiceErrorCode::serverUnreachable, "The sound server gave no answer."));
  }
  return std::move(*result);
}

}  // namespace

std::vector<AudioCaptureDevice> PulseDeviceDiscovery::microphones() {
  try {
    return microphonesOf(readServer());
  } catch (const PlatformError&) {
    return {};
  }
}

std::optional<AudioCaptureDevice> PulseDeviceDiscovery::defaultAudioDevice() {
  try {
    return defaultMicrophoneOf(readServer());
  } catch (const PlatformError&) {
    return std::nullopt;
  }
}

MicrophoneInventory PulseDeviceDiscovery::listMicrophones() {
  const ServerSnapshot snapshot = readServer();
  return {microphonesOf(snapshot), defaultMicrophoneOf(snapshot)};
}

}  // namespace platform::linux_gst
