#include <gtest/gtest.h>
#include <pulse/def.h>

#include "platform/linux/UnrecordedOutput.h"

namespace platform::linux_gst {
namespace {

constexpr std::uint32_t kNone = PA_INVALID_INDEX;
// PulseAudio names its native protocol's module as the owner of every client's stream.
constexpr std::uint32_t kProtocol = 3;
constexpr std::uint32_t kSystemStream = 100;
constexpr std::uint32_t kMicrophoneStream = 101;

// Outputs 0 "Speakers" (the default) and 1 "Headset", each the only one its module owns, with
// their monitors 10 and 11; the tool records the speakers' monitor.
ServerRouting twoOutputs() {
  ServerRouting routing;
  routing.sinks = {{0, 20, 10, "Speakers"}, {1, 21, 11, "Headset"}};
  routing.sourceOutputs = {{kSystemStream, 10, 7, kProtocol}};
  return routing;
}

ServerRouting::SinkInput application(std::uint32_t sink, bool corked = false) {
  return {sink, 5, kProtocol, corked};
}

ServerRouting::SinkInput ofModule(std::uint32_t sink, std::uint32_t module) {
  return {sink, kNone, module, false};
}

std::optional<std::string> unrecorded(const ServerRouting& routing) {
  return unrecordedOutput(routing, {kSystemStream, kMicrophoneStream});
}

// A meeting set to play on the headset is missing from a recording of the speakers, and only
// an application playing counts: not a paused one, not a module's stream.
TEST(UnrecordedOutput, AnApplicationPlayingOnAnotherOutputIsFound) {
  ServerRouting routing = twoOutputs();
  routing.sinkInputs = {application(0)};
  EXPECT_EQ(unrecorded(routing), std::nullopt);

  routing.sinkInputs.push_back(application(1));
  EXPECT_EQ(unrecorded(routing), "Headset");
  // Another application's meter on the headset's monitor records nothing for the tool.
  routing.sourceOutputs.push_back({60, 11, 8, kProtocol});
  EXPECT_EQ(unrecorded(routing), "Headset");

  routing.sinkInputs.back() = application(1, true);
  EXPECT_EQ(unrecorded(routing), std::nullopt) << "paused";
  routing.sinkInputs.back() = ofModule(1, 30);
  EXPECT_EQ(unrecorded(routing), std::nullopt) << "a loopback's stream";

  // The system stream moved with the default output: now the speakers are the other one.
  routing.sourceOutputs[0].source = 11;
  routing.sinkInputs.back() = application(1);
  EXPECT_EQ(unrecorded(routing), "Speakers");
}

// Virtual outputs pass their sound on: one that plays into the recorded output, however many
// steps away, is heard, and so is what an equaliser records from the recorded output and plays
// on; sound fed to a virtual microphone is none that anyone listens to.
TEST(UnrecordedOutput, VirtualOutputsRelaysAndMicrophoneFeedsAreNotTold) {
  ServerRouting routing = twoOutputs();
  // "Outer" plays into "Inner", which plays into the speakers.
  routing.sinks.push_back({2, 22, 12, "Inner"});
  routing.sinks.push_back({3, 23, 13, "Outer"});
  routing.sinkInputs = {ofModule(2, 23), ofModule(0, 22), application(3)};
  EXPECT_EQ(unrecorded(routing), std::nullopt) << "two steps from the speakers";

  // A feed whose monitor a module remaps into a microphone, with the microphone off.
  routing.sinks.push_back({4, 24, 14, "Feed"});
  routing.sourceOutputs.push_back({50, 14, kNone, 25});
  routing.sinkInputs.push_back(application(4));
  EXPECT_EQ(unrecorded(routing), std::nullopt) << "a virtual microphone's feed";

  // An echo canceller as the default output, recorded, playing into the speakers: sound played
  // on the speakers themselves bypasses it.
  ServerRouting cancelled = twoOutputs();
  cancelled.sinks.push_back({2, 26, 12, "Echo-Cancel Sink"});
  cancelled.sourceOutputs[0].source = 12;
  cancelled.sinkInputs = {ofModule(0, 26), application(2)};
  EXPECT_EQ(unrecorded(cancelled), std::nullopt);
  cancelled.sinkInputs.push_back(application(0));
  EXPECT_EQ(unrecorded(cancelled), "Speakers");

  // An equaliser as the default output: an application whose own output the tool records, and
  // which plays what it records there on the speakers.
  ServerRouting equalised = twoOutputs();
  equalised.sinks.push_back({2, 27, 12, "Equaliser"});
  equalised.sourceOutputs[0].source = 12;
  equalised.sourceOutputs.push_back({61, 12, 9, kProtocol});
  equalised.sinkInputs = {application(2), {0, 9, kProtocol, false}};
  EXPECT_EQ(unrecorded(equalised), std::nullopt);
}

}  // namespace
}  // namespace platform::linux_gst
