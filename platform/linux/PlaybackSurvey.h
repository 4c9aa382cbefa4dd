#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/ServerRouting.h"

struct pa_context;

namespace platform::linux_gst {

// What a reading of the routing finds of sound that does not reach the recording.
struct RoutingFindings {
  std::optional<std::string> unrecordedOutput;  // UnrecordedOutput.h
  std::optional<std::string> mutedOutput;       // MutedOutput.h
  bool operator==(const RoutingFindings&) const = default;
};

// Reads the sound server's routing, one reading at a time, and tells its findings: after the
// first reading, and after each later one whose findings differ.
//
// Loop thread only: requests, the wait for the server to settle and the server's callbacks run
// there. The owner disconnects the context and frees its loop before destroying the survey, so
// that no callback of a reading under way, nor the wait, runs after it.
class PlaybackSurvey {
 public:
  using Tell = std::function<void(const RoutingFindings&)>;

  PlaybackSurvey(RecordStreams recordStreams, Tell tell)
      : recordStreams_(recordStreams), tell_(std::move(tell)) {}

  // Reads the routing once the server has settled, and again after the reading under way: what
  // that one read may be older than the change that asks.
  void request(pa_context* context);

  // The steps of a reading, for the server's callbacks.
  void readServer();
  void serverRead(bool pipeWire);
  void readSinks();
  void readSources();
  void readSourceOutputs();
  void readSinkInputs();
  void conclude();
  // Ends the reading, with a finding when it is `complete`, and begins the one asked meanwhile.
  void finish(bool complete);

  ServerRouting routing;  // of the reading under way

 private:
  const RecordStreams recordStreams_;
  const Tell tell_;
  pa_context* context_ = nullptr;  // the one requests come from, one per survey
  bool settling_ = false;
  bool reading_ = false;
  bool readAgain_ = false;
  std::optional<RoutingFindings> told_;
  std::optional<bool> pipeWire_;  // the server's kind, once read
};

}  // namespace platform::linux_gst
