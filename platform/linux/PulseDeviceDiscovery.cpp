// Microphones from the sound server.
//
// create:  owned by the platform object.
// start:   each call connects afresh on the caller's thread, running a private PulseAudio loop
//          there until the snapshot is in or the time-out passes; nothing else is waited for.
// finish:  the query and its loop are freed before the call returns.
#include "platform/linux/PulseDeviceDiscovery.h"

#include <pulse/mainloop.h>

#include "platform/linux/PulseContent.h"
#include "platform/linux/ServerSnapshot.h"

namespace platform::linux_gst {

namespace {

constexpr int kTimeoutSeconds = 5;

// The interface is synchronous, so the caller's own thread runs the loop until the snapshot is
// in; no other thread is waited for.
std::optional<ServerSnapshot> readServer() {
  pa_mainloop* loop = pa_mainloop_new();
  std::optional<ServerSnapshot> result;
  {
    SnapshotQuery query(pa_mainloop_get_api(loop), kTimeoutSeconds,
                        [&](std::optional<ServerSnapshot> snapshot, std::optional<PlatformError>) {
                          result = std::move(snapshot);
                          pa_mainloop_quit(loop, 0);
                        });
    pa_mainloop_run(loop, nullptr);
  }
  pa_mainloop_free(loop);
  return result;
}

}  // namespace

std::vector<AudioCaptureDevice> PulseDeviceDiscovery::microphones() {
  auto snapshot = readServer();
  return snapshot ? microphonesOf(*snapshot) : std::vector<AudioCaptureDevice>{};
}

std::optional<AudioCaptureDevice> PulseDeviceDiscovery::defaultAudioDevice() {
  auto snapshot = readServer();
  return snapshot ? defaultMicrophoneOf(*snapshot) : std::nullopt;
}

}  // namespace platform::linux_gst
