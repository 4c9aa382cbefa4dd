#include <gtest/gtest.h>

#include "platform/linux/PulseContent.h"

namespace platform::linux_gst {
namespace {

ServerSnapshot snapshot() {
  ServerSnapshot server;
  server.defaultSinkName = "hdmi";
  server.defaultSourceName = "usb_mic";
  server.sinks = {{"speakers", "speakers.monitor"},
                  {"no_monitor", ""},
                  {"hdmi", "hdmi.monitor"},
                  {"headset", "headset.monitor"}};
  server.sources = {{"speakers.monitor", "Monitor of Speakers", true},
                    {"builtin_mic", "Built-in Microphone", false},
                    {"usb_mic", "USB Desk Microphone", false}};
  return server;
}

// The default output first, then the others that can be captured, in the server's order.
TEST(Content, DisplaysAreTheOutputsWithAMonitor) {
  const struct {
    std::string defaultSink;
    std::vector<ServerSnapshot::Sink> sinks;
    std::vector<std::string> monitors;
  } cases[] = {
      {"hdmi", snapshot().sinks, {"hdmi.monitor", "speakers.monitor", "headset.monitor"}},
      {"no_monitor", snapshot().sinks, {"speakers.monitor", "hdmi.monitor", "headset.monitor"}},
      {"no_monitor", {{"no_monitor", ""}}, {}},
      {"hdmi", {}, {}},
  };
  for (const auto& [defaultSink, sinks, monitors] : cases) {
    ServerSnapshot server = snapshot();
    server.defaultSinkName = defaultSink;
    server.sinks = sinks;
    std::vector<std::string> names;
    for (const auto& display : contentOf(server).displays) {
      names.push_back(dynamic_cast<const PulseDisplay&>(*display).monitorSourceName());
    }
    EXPECT_EQ(names, monitors) << defaultSink;
  }
}

// The inputs that are not monitors, in the server's order; the default unless it is a monitor.
TEST(Microphones, AreTheInputsThatAreNotMonitors) {
  ServerSnapshot server = snapshot();
  std::vector<std::pair<std::string, std::string>> devices;
  for (const auto& device : microphonesOf(server)) {
    devices.emplace_back(device.uniqueID, device.localizedName);
  }
  EXPECT_EQ(devices,
            (std::vector<std::pair<std::string, std::string>>{
                {"builtin_mic", "Built-in Microphone"}, {"usb_mic", "USB Desk Microphone"}}));
  EXPECT_EQ(defaultMicrophoneOf(server).value_or(AudioCaptureDevice{}).uniqueID, "usb_mic");
  for (const std::string name : {"speakers.monitor", ""}) {
    server.defaultSourceName = name;
    EXPECT_FALSE(defaultMicrophoneOf(server).has_value()) << name;
  }
}

}  // namespace
}  // namespace platform::linux_gst
