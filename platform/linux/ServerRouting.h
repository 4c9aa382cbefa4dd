#pragma once

#include <pulse/volume.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::linux_gst {

// The sound server's record streams of a running capture, by source-output index.
struct RecordStreams {
  std::optional<std::uint32_t> system;      // the output's monitor
  std::optional<std::uint32_t> microphone;  // none when the microphone is not recorded
};

// How the sound server routes what plays and what is recorded, as far as finding sound that
// does not reach the recording needs. Indexes are the server's, with PA_INVALID_INDEX for none.
struct ServerRouting {
  struct Sink {
    std::uint32_t index;
    std::uint32_t ownerModule;
    std::uint32_t monitorSource;
    std::string description;
    bool muted = false;
    pa_volume_t volume = PA_VOLUME_NORM;  // of its loudest channel
    bool hardwareVolume = false;          // set on the device, not applied by the server
    bool hardwareMute = false;
  };
  struct Monitor {  // the source that records an output
    std::uint32_t index;
    std::string description;
    bool muted = false;
    pa_volume_t volume = PA_VOLUME_NORM;  // of its loudest channel
  };
  struct SourceOutput {
    std::uint32_t index;
    std::uint32_t source;
    std::uint32_t client;
    std::uint32_t ownerModule;
  };
  struct SinkInput {
    std::uint32_t sink;
    std::uint32_t client;
    std::uint32_t ownerModule;
    bool corked;
  };
  std::vector<Sink> sinks;
  std::vector<Monitor> monitors;
  std::vector<SourceOutput> sourceOutputs;
  std::vector<SinkInput> sinkInputs;
  bool pipeWire = false;  // PipeWire's server, rather than PulseAudio itself
};

}  // namespace platform::linux_gst
