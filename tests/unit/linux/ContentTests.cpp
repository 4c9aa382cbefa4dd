#include <gtest/gtest.h>

#include "platform/linux/PulseContent.h"

namespace platform::linux_gst {
namespace {

ServerSnapshot snapshot() {
  ServerSnapshot server;
  server.defaultSinkName = "hdmi";
  server.defaultSourceName = "usb_mic";
  server.sinks = {{"speakers", "Speakers", "speakers.monitor"},
                  {"no_monitor", "Odd Output", ""},
                  {"hdmi", "HDMI", "hdmi.monitor"},
                  {"headset", "Headset", "headset.monitor"}};
  server.sources = {{"speakers.monitor", "Monitor of Speakers", true},
                    {"builtin_mic", "Built-in Microphone", false},
                    {"usb_mic", "USB Desk Microphone", false}};
  server.clientProcessIDs = {412, 17};
  return server;
}

std::vector<std::string> monitorsOf(const ShareableContent& content) {
  std::vector<std::string> names;
  for (const auto& display : content.displays) {
    names.push_back(dynamic_cast<const PulseDisplay&>(*display).monitorSourceName());
  }
  return names;
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
      {"no_monitor", {{"no_monitor", "Odd Output", ""}}, {}},
      {"hdmi", {}, {}},
  };
  for (const auto& [defaultSink, sinks, monitors] : cases) {
    ServerSnapshot server = snapshot();
    server.defaultSinkName = defaultSink;
    server.sinks = sinks;
    EXPECT_EQ(monitorsOf(contentOf(server)), monitors) << defaultSink;
  }
}

TEST(Microphones, AreTheInputsThatAreNotMonitorsInServerOrder) {
  auto devices = microphonesOf(snapshot());
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].uniqueID, "builtin_mic");
  EXPECT_EQ(devices[0].localizedName, "Built-in Microphone");
  EXPECT_EQ(devices[1].uniqueID, "usb_mic");
  EXPECT_EQ(devices[1].localizedName, "USB Desk Microphone");
}

TEST(Microphones, DefaultIsTheServersDefaultInputUnlessItIsAMonitor) {
  ServerSnapshot server = snapshot();
  ASSERT_TRUE(defaultMicrophoneOf(server).has_value());
  EXPECT_EQ(defaultMicrophoneOf(server)->uniqueID, "usb_mic");
  server.defaultSourceName = "speakers.monitor";
  EXPECT_FALSE(defaultMicrophoneOf(server).has_value());
  server.defaultSourceName = "";
  EXPECT_FALSE(defaultMicrophoneOf(server).has_value());
}

}  // namespace
}  // namespace platform::linux_gst
