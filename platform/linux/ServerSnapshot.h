#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/PlatformError.h"

struct pa_mainloop_api;

namespace platform::linux_gst {

// What the service needs to know of the sound server, read in one visit.
struct ServerSnapshot {
  struct Sink {
    std::string name;
    std::string monitorSourceName;  // empty when its sound cannot be captured
  };
  struct Source {
    std::string name;
    std::string description;
    bool isMonitor = false;
  };
  std::string defaultSinkName;
  std::string defaultSourceName;
  std::vector<Sink> sinks;      // in the server's order
  std::vector<Source> sources;  // in the server's order
  std::vector<std::int32_t> clientProcessIDs;
};

using SnapshotCompletion =
    std::function<void(std::optional<ServerSnapshot> snapshot, std::optional<PlatformError> error)>;

// Connects to the server named by the environment (PULSE_SERVER or the user's default) and
// reads a snapshot. Every callback, `completion` included, runs on the thread that dispatches
// `api`, and `completion` runs exactly once, from within that dispatch: the owner destroys the
// query only after the dispatch has returned (destroying it disconnects).
class SnapshotQuery {
 public:
  // Starts at once; `timeoutSeconds` bounds connecting and reading together.
  SnapshotQuery(pa_mainloop_api* api, int timeoutSeconds, SnapshotCompletion completion);
  ~SnapshotQuery();
  SnapshotQuery(const SnapshotQuery&) = delete;
  SnapshotQuery& operator=(const SnapshotQuery&) = delete;

  struct State;

 private:
  State* state_;
};

}  // namespace platform::linux_gst
