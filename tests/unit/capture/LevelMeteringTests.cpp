#include <thread>

#include "SessionFixture.h"
#include "events/JsonWriter.h"

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

TEST_F(LevelMetering, EachTickReportsOnlyItsOwnIntervalPerSourceAndOnlyAudio) {
  makeSession(true);
  startOrFail();
  const auto records = printedRecords([this] {
    platform.capture.deliverSamples(StreamOutputType::audio,
                                    ScriptedSampleBuffer::ofFloats({0.5f, -0.5f, 0.5f, -0.5f}));
    platform.capture.deliverSamples(StreamOutputType::microphone,
                                    ScriptedSampleBuffer::ofFloats({2.0f, 2.0f}));
    for (const auto other : {StreamOutputType::screen, StreamOutputType{7}}) {
      platform.capture.deliverSamples(other, ScriptedSampleBuffer::ofFloats({1.0f, 1.0f}));
    }
    levelTimer().fire();
    levelTimer().fire();
    platform.capture.deliverSamples(StreamOutputType::audio,
                                    ScriptedSampleBuffer::ofFloats({0.0f}));
    levelTimer().fire();
  });
  ASSERT_EQ(records.size(), 3U);
  EXPECT_EQ(records[0], levelOf(4, 0.5, 2, 2.0));
  EXPECT_EQ(records[1], levelOf(0, 0, 0, 0));
  EXPECT_EQ(records[2], levelOf(1, 0, 0, 0));
}

// What arrives after the last tick counts, also while the stream is being stopped.
TEST_F(LevelMetering, FinalRecordCarriesWhatArrivedSinceTheLastTickUntilTheStreamStopped) {
  platform.capture.held = {test_support::Completion::stop};
  makeSession(true);
  startOrFail();
  const auto deliver = [this](std::initializer_list<float> values) {
    platform.capture.deliverSamples(StreamOutputType::audio,
                                    ScriptedSampleBuffer::ofFloats(values));
  };
  deliver({1.0f});
  levelTimer().fire();
  deliver({3.0f, 4.0f});
  std::jthread stoppingStream([&] {
    platform.capture.awaitHeld(test_support::Completion::stop);
    deliver({0.0f, 0.0f});
    platform.capture.complete(test_support::Completion::stop);
  });
  auto outcome = run(session->stop());
  const auto* record = std::get_if<events::EventRecord>(&outcome);
  ASSERT_NE(record, nullptr);
  json expected = levelOf(4, 2.5, 0, 0);
  expected["event"] = "final";
  EXPECT_EQ(json::parse(events::serializeJsonObject(*record).value()), expected);
}

}  // namespace
}  // namespace capture
