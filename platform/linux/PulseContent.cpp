// The content a query found, as the core's displays and applications.
//
// Made on the loop thread from a snapshot and immutable from then on; any thread may read it.
#include "platform/linux/PulseContent.h"

namespace platform::linux_gst {

ShareableContent contentOf(const ServerSnapshot& snapshot) {
  ShareableContent content;
  for (const auto& sink : snapshot.sinks) {
    if (sink.monitorSourceName.empty()) continue;
    auto display = std::make_shared<const PulseDisplay>(sink.name, sink.monitorSourceName);
    if (sink.name == snapshot.defaultSinkName) {
      content.displays.insert(content.displays.begin(), std::move(display));
    } else {
      content.displays.push_back(std::move(display));
    }
  }
  for (std::int32_t processID : snapshot.clientProcessIDs) {
    content.applications.push_back(std::make_shared<const PulseApplication>(processID));
  }
  return content;
}

}  // namespace platform::linux_gst
