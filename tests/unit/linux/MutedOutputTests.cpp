#include <gtest/gtest.h>

#include "platform/linux/MutedOutput.h"

namespace platform::linux_gst {
namespace {

constexpr std::uint32_t kSystemStream = 100;
constexpr std::uint32_t kMicrophoneStream = 101;

// The tool records "Speakers" (monitor 10) as system audio, and its microphone stream records
// the headset's monitor (11), as a user may pick one.
ServerRouting speakersAndHeadset() {
  ServerRouting routing;
  routing.sinks = {{0, 20, 10, "Speakers"}, {1, 21, 11, "Headset"}};
  routing.sourceOutputs = {{kMicrophoneStream, 11, 7, 3}, {kSystemStream, 10, 7, 3}};
  return routing;
}

// Only the output that system audio records counts, and only where its mute or volume reaches
// the monitor: PulseAudio mutes every monitor with its output, PipeWire keeps a hardware mute
// to the device, and a hardware volume comes after the monitor on both, but for the part the
// device cannot go down to, which the server applies itself: all of it at 0.
TEST(MutedOutput, TheRecordedOutputIsToldWhereItsMuteOrVolumeReachesItsMonitor) {
  ServerRouting routing = speakersAndHeadset();
  auto& speakers = routing.sinks[0];
  routing.sinks[1].muted = true;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), std::nullopt) << "another output muted";

  speakers.muted = true;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Speakers");
  speakers.hardwareMute = true;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Speakers") << "PulseAudio, in hardware";
  routing.pipeWire = true;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), std::nullopt) << "PipeWire, in hardware";
  speakers.hardwareMute = false;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Speakers") << "PipeWire, in software";

  speakers.muted = false;
  speakers.volume = PA_VOLUME_NORM / 10;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Speakers") << "at 10 %";
  speakers.hardwareVolume = true;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), std::nullopt) << "at 10 %, in hardware";
  speakers.volume = PA_VOLUME_MUTED;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Speakers") << "at 0, in hardware";
  speakers.hardwareVolume = false;
  speakers.volume = PA_VOLUME_NORM * 11 / 100;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), std::nullopt) << "at 11 %";

  // System audio followed a new default output.
  routing.sourceOutputs[1].source = 11;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Headset");
  EXPECT_EQ(mutedOutput(routing, std::nullopt), std::nullopt) << "no system stream";
}

// A monitor muted or turned down by itself, as a mixer that lists it among the inputs can, and
// as the server then keeps it, is named for what it is; the output comes first.
TEST(MutedOutput, AMonitorMutedOrTurnedDownItselfIsTold) {
  ServerRouting routing = speakersAndHeadset();
  routing.monitors = {{10, "Monitor of Speakers"}, {11, "Monitor of Headset"}};
  routing.monitors[1].muted = true;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), std::nullopt) << "another output's monitor";

  auto& monitor = routing.monitors[0];
  monitor.volume = PA_VOLUME_NORM * 11 / 100;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), std::nullopt);
  monitor.volume = PA_VOLUME_NORM / 10;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Monitor of Speakers");
  monitor.volume = PA_VOLUME_NORM;
  monitor.muted = true;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Monitor of Speakers");
  routing.sinks[0].muted = true;
  EXPECT_EQ(mutedOutput(routing, kSystemStream), "Speakers");
}

}  // namespace
}  // namespace platform::linux_gst
