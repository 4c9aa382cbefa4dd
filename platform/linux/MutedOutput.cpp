#include "platform/linux/MutedOutput.h"

#include <algorithm>

namespace platform::linux_gst {

namespace {

constexpr pa_volume_t kInaudibleVolume = PA_VOLUME_NORM / 10;

// What a hardware volume cannot go down to, the server makes up in software: at 0 the monitor
// is silent on any device.
bool silencesItsMonitor(const ServerRouting& routing, const ServerRouting::Sink& sink) {
  const bool muted = sink.muted && !(routing.pipeWire && sink.hardwareMute);
  return muted || sink.volume == PA_VOLUME_MUTED ||
         (!sink.hardwareVolume && sink.volume <= kInaudibleVolume);
}

bool silenced(const ServerRouting::Monitor& monitor) {
  return monitor.muted || monitor.volume <= kInaudibleVolume;
}

template <typename Item, typename Predicate>
const Item* findIn(const std::vector<Item>& items, Predicate predicate) {
  auto found = std::find_if(items.begin(), items.end(), predicate);
  return found == items.end() ? nullptr : &*found;
}

}  // namespace

std::optional<std::string> mutedOutput(const ServerRouting& routing,
                                       std::optional<std::uint32_t> systemStream) {
  if (!systemStream) return std::nullopt;
  const auto* stream = findIn(routing.sourceOutputs, [&](const ServerRouting::SourceOutput& each) {
    return each.index == *systemStream;
  });
  if (!stream) return std::nullopt;
  const auto* sink = findIn(routing.sinks, [&](const ServerRouting::Sink& each) {
    return each.monitorSource == stream->source;
  });
  if (sink && silencesItsMonitor(routing, *sink)) return sink->description;
  const auto* monitor = findIn(routing.monitors, [&](const ServerRouting::Monitor& each) {
    return each.index == stream->source;
  });
  if (monitor && silenced(*monitor)) return monitor->description;
  return std::nullopt;
}

}  // namespace platform::linux_gst
