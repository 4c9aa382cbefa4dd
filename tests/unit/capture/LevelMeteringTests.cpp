#include "SessionFixture.h"
#include "support/EventLines.h"

namespace capture {
namespace {

using nlohmann::json;
using platform::StreamOutputType;
using test_support::ScriptedSampleBuffer;

using LevelMetering = SessionFixture;

json levelOf(std::uint64_t systemSamples, double systemRms, std::uint64_t microphoneSamples,
             double microphoneRms) {
  return {{"event", "level"},
          {"systemSamples", systemSamples},
          {"systemRms", systemRms},
          {"microphoneSamples", microphoneSamples},
          {"microphoneRms", microphoneRms}};
}

TEST_F(LevelMetering, EachTickReportsOnlyItsOwnIntervalPerSource) {
  makeSession(true);
  startOrFail();
  const auto events = test_support::parseEventLines(printedLines([this] {
    platform.capture.deliverSamples(StreamOutputType::audio,
                                    ScriptedSampleBuffer::ofFloats({0.5f, -0.5f, 0.5f, -0.5f}));
    platform.capture.deliverSamples(StreamOutputType::microphone,
                                    ScriptedSampleBuffer::ofFloats({2.0f, 2.0f}));
    levelTimer().fire();
    levelTimer().fire();
    platform.capture.deliverSamples(StreamOutputType::audio,
                                    ScriptedSampleBuffer::ofFloats({0.0f}));
    levelTimer().fire();
  }));
  ASSERT_EQ(events.size(), 3U);
  EXPECT_EQ(events[0], levelOf(4, 0.5, 2, 2.0));
  EXPECT_EQ(events[1], levelOf(0, 0, 0, 0));
  EXPECT_EQ(events[2], levelOf(1, 0, 0, 0));
}

TEST_F(LevelMetering, BuffersOfOtherOutputTypesAreIgnored) {
  makeSession(false);
  startOrFail();
  const auto events = test_support::parseEventLines(printedLines([this] {
    for (const auto type : {StreamOutputType::screen, StreamOutputType{7}, StreamOutputType{-1}}) {
      platform.capture.deliverSamples(type, ScriptedSampleBuffer::ofFloats({1.0f, 1.0f}));
    }
    levelTimer().fire();
  }));
  ASSERT_EQ(events.size(), 1U);
  EXPECT_EQ(events[0], levelOf(0, 0, 0, 0));
}

TEST_F(LevelMetering, TickAfterTheSessionIsGoneIsSilent) {
  makeSession();
  startOrFail();
  auto timer = platform.scriptedDispatch.timers.back();
  session.reset();
  EXPECT_TRUE(printedLines([&] { timer->fire(); }).empty());
}

TEST_F(LevelMetering, FinalRecordCarriesWhatArrivedSinceTheLastTick) {
  makeSession(true);
  startOrFail();
  platform.capture.deliverSamples(StreamOutputType::audio, ScriptedSampleBuffer::ofFloats({1.0f}));
  levelTimer().fire();
  platform.capture.deliverSamples(StreamOutputType::audio,
                                  ScriptedSampleBuffer::ofFloats({3.0f, 4.0f, 0.0f, 0.0f}));
  auto outcome = run(session->stop());
  const auto* record = std::get_if<events::EventRecord>(&outcome);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(std::get<std::string>(*record->find("event")), "final");
  EXPECT_EQ(std::get<std::uint64_t>(*record->find("systemSamples")), 4U);
  EXPECT_DOUBLE_EQ(std::get<double>(*record->find("systemRms")), 2.5);
  EXPECT_EQ(std::get<std::uint64_t>(*record->find("microphoneSamples")), 0U);
  EXPECT_EQ(std::get<double>(*record->find("microphoneRms")), 0.0);
  EXPECT_EQ(record->entries().size(), 5U);
  EXPECT_TRUE(levelTimer().cancelled());
}

}  // namespace
}  // namespace capture
