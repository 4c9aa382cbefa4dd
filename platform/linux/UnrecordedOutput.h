#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::linux_gst {

// How the sound server routes what plays and what is recorded, as far as finding sound the tool
// does not record needs. Indexes are the server's, with PA_INVALID_INDEX for none.
struct ServerRouting {
  struct Sink {
    std::uint32_t index;
    std::uint32_t ownerModule;
    std::uint32_t monitorSource;
    std::string description;
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
  std::vector<SourceOutput> sourceOutputs;
  std::vector<SinkInput> sinkInputs;
};

// The description of an output on which an application plays sound that none of the tool's
// record streams (`recordStreams`, source-output indexes) hears; none when every playing
// application is heard. System audio is one output's monitor, so an application set to play on
// another device (a meeting's headset beside the default speakers) is not in the movie.
//
// Heard is an output whose monitor a record stream records, and a virtual output that plays
// into a heard one (a remap, a combined or an echo-cancelling output). An output whose monitor a
// module makes a source of (the feed of a virtual microphone, a remapped input) is no output
// that anyone listens to, so sound there is not told, recorded as the microphone or not.
// Streams of modules (a loopback, a combined output's) and paused streams are not an
// application playing, and an application that records a heard output's monitor plays heard
// sound on (an equaliser such as EasyEffects, whose own output is the default).
std::optional<std::string> unrecordedOutput(const ServerRouting& routing,
                                            const std::vector<std::uint32_t>& recordStreams);

}  // namespace platform::linux_gst
