// Finding sound that plays where the tool does not record: a walk over the server's routing,
// from the outputs whose monitors the tool records to the virtual ones that play into them,
// until nothing more is heard. Plain data, no server.
#include "platform/linux/UnrecordedOutput.h"

#include <pulse/def.h>

#include <algorithm>
#include <set>

namespace platform::linux_gst {

namespace {

using Index = std::uint32_t;

// A module's own stream, as a remap or a loopback makes; a client's streams name the protocol's
// module as their owner on PulseAudio, so only the missing client tells them apart.
template <typename Stream>
bool ofModule(const Stream& stream) {
  return stream.client == PA_INVALID_INDEX && stream.ownerModule != PA_INVALID_INDEX;
}

// Adds the virtual outputs that play into a heard one; false when there were none new.
bool hearFurther(const ServerRouting& routing, std::set<Index>& sinks) {
  const std::size_t before = sinks.size();
  std::set<Index> feedingModules;
  for (const auto& input : routing.sinkInputs) {
    if (sinks.contains(input.sink) && ofModule(input)) feedingModules.insert(input.ownerModule);
  }
  for (const auto& sink : routing.sinks) {
    if (feedingModules.contains(sink.ownerModule)) sinks.insert(sink.index);
  }
  return sinks.size() != before;
}

bool feedsAVirtualInput(const ServerRouting& routing, const ServerRouting::Sink& sink) {
  return std::any_of(routing.sourceOutputs.begin(), routing.sourceOutputs.end(),
                     [&](const ServerRouting::SourceOutput& output) {
                       return output.source == sink.monitorSource && ofModule(output);
                     });
}

}  // namespace

std::optional<std::string> unrecordedOutput(const ServerRouting& routing,
                                            const RecordStreams& recordStreams) {
  std::set<Index> recordedSources;
  for (const auto& output : routing.sourceOutputs) {
    if (output.index == recordStreams.system || output.index == recordStreams.microphone) {
      recordedSources.insert(output.source);
    }
  }
  std::set<Index> heardSinks;
  for (const auto& sink : routing.sinks) {
    if (recordedSources.contains(sink.monitorSource)) heardSinks.insert(sink.index);
  }
  while (hearFurther(routing, heardSinks)) {
  }
  // Clients that record a heard output's monitor play heard sound on (an equaliser that is the
  // default output and plays on the device).
  std::set<Index> heardMonitors;
  for (const auto& sink : routing.sinks) {
    if (heardSinks.contains(sink.index)) heardMonitors.insert(sink.monitorSource);
  }
  std::set<Index> relays;
  for (const auto& output : routing.sourceOutputs) {
    if (heardMonitors.contains(output.source) && output.client != PA_INVALID_INDEX) {
      relays.insert(output.client);
    }
  }
  for (const auto& input : routing.sinkInputs) {
    if (input.corked || input.client == PA_INVALID_INDEX || heardSinks.contains(input.sink) ||
        relays.contains(input.client)) {
      continue;
    }
    auto sink =
        std::find_if(routing.sinks.begin(), routing.sinks.end(),
                     [&](const ServerRouting::Sink& each) { return each.index == input.sink; });
    if (sink != routing.sinks.end() && !feedsAVirtualInput(routing, *sink)) {
      return sink->description;
    }
  }
  return std::nullopt;
}

}  // namespace platform::linux_gst
