#pragma once

#include <memory>
#include <string>

#include "platform/AudioDeviceDiscovery.h"
#include "platform/ScreenCaptureService.h"
#include "platform/linux/ServerSnapshot.h"

namespace platform::linux_gst {

// A sound-server output whose sound can be captured through its monitor source.
class PulseDisplay : public Display {
 public:
  explicit PulseDisplay(std::string monitorSourceName)
      : monitorSourceName_(std::move(monitorSourceName)) {}
  const std::string& monitorSourceName() const { return monitorSourceName_; }

 private:
  std::string monitorSourceName_;
};

// A client of the sound server.
class PulseApplication : public RunningApplication {
 public:
  explicit PulseApplication(std::int32_t processID) : processID_(processID) {}
  std::int32_t processID() const override { return processID_; }

 private:
  std::int32_t processID_;
};

// The output to record. A monitor carries every client's sound, the tool's own included; the
// tool plays nothing, so leaving applications out needs no work.
class PulseContentFilter : public ContentFilter {
 public:
  explicit PulseContentFilter(std::shared_ptr<const PulseDisplay> display)
      : display_(std::move(display)) {}
  const std::shared_ptr<const PulseDisplay>& display() const { return display_; }

 private:
  std::shared_ptr<const PulseDisplay> display_;
};

// The default output first, then the other capturable outputs in the server's order.
ShareableContent contentOf(const ServerSnapshot& snapshot);

// The inputs that are not monitors, in the server's order.
std::vector<AudioCaptureDevice> microphonesOf(const ServerSnapshot& snapshot);
// The server's default input, unless it is a monitor or unknown.
std::optional<AudioCaptureDevice> defaultMicrophoneOf(const ServerSnapshot& snapshot);

}  // namespace platform::linux_gst
