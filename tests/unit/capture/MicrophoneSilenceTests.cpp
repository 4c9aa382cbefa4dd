#include <cmath>
#include <functional>
#include <numbers>

#include "SessionFixture.h"

namespace capture {
namespace {

using platform::StreamOutputType;

constexpr int kValuesPerSecond = 96000;               // 48 kHz, two channels
constexpr int kBufferValues = kValuesPerSecond / 20;  // 50 ms
constexpr float kStep = 1.0f / 32768.0f;              // one step of 16-bit audio, -90.3 dBFS

// The value at position `index` of the source since the feed began.
using Signal = std::function<float(long index)>;

const Signal zeros = [](long) { return 0.0f; };
// The smallest sound 16-bit audio has: digital silence still.
const Signal dither = [](long index) { return index % 2 ? kStep : -kStep; };
const Signal twoSteps = [](long index) { return 2 * dither(index); };
// A sine of -70 dBFS RMS: a room's noise floor, far above a mute.
const Signal quietRoom = [](long index) {
  const double amplitude = std::pow(10.0, -70.0 / 20.0) * std::numbers::sqrt2;
  return static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * 1000 * index / 96000.0));
};

class MicrophoneSilence : public SessionFixture {
 protected:
  void SetUp() override {
    makeSession(true);
    startOrFail();
  }

  // Delivers `buffers` buffers of 50 ms of `signal` from `source`, and gives back the codes of
  // the warnings that followed.
  std::vector<std::string> feed(int buffers, const Signal& signal,
                                StreamOutputType source = StreamOutputType::microphone,
                                platform::SampleLayout layout = {}) {
    const auto records = printedRecords([&] {
      for (int buffer = 0; buffer < buffers; ++buffer) {
        const double at = static_cast<double>(position_) / kValuesPerSecond;
        std::vector<float> values(kBufferValues);
        for (int i = 0; i < kBufferValues; ++i) values[i] = signal(position_++);
        platform.capture.deliverSamples(source, floats(values, layout, at));
      }
    });
    return warnings(records);
  }

  // A level second in which the microphone delivered nothing, and the system audio did or not.
  std::vector<std::string> secondWithoutMicrophone(bool systemAudio) {
    if (systemAudio) feed(20, quietRoom, StreamOutputType::audio);
    return warnings(printedRecords([&] { levelTimer().fire(); }));
  }

  static std::vector<std::string> warnings(const std::vector<nlohmann::json>& records) {
    std::vector<std::string> codes;
    for (const auto& record : records) {
      if (record.value("event", "") == "warning") codes.push_back(record.value("code", ""));
    }
    return codes;
  }

  long position_ = 0;
};

using Codes = std::vector<std::string>;
const Codes kNone;
const Codes kSilent{"microphone_silent"};
const Codes kAudible{"microphone_audible"};

// 5 s are 100 buffers of 50 ms: the warning comes with the buffer that completes them, once, and
// sound ends it. Only the microphone's digital silence counts.
TEST_F(MicrophoneSilence, FiveSecondsOfDigitalSilenceAreToldOnceAndNotBefore) {
  const struct {
    const char* what;
    Signal signal;
    StreamOutputType source;
    bool told;
  } cases[] = {
      {"exact zeros", zeros, StreamOutputType::microphone, true},
      {"1-step dither", dither, StreamOutputType::microphone, true},
      {"2-step dither", twoSteps, StreamOutputType::microphone, false},
      {"a room at -70 dBFS", quietRoom, StreamOutputType::microphone, false},
      {"zeros of the system audio", zeros, StreamOutputType::audio, false},
  };
  for (const auto& [what, signal, source, told] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(feed(99, signal, source), kNone);
    EXPECT_EQ(feed(1, signal, source), told ? kSilent : kNone);
    EXPECT_EQ(feed(200, signal, source), kNone);
    EXPECT_EQ(feed(1, quietRoom), told ? kAudible : kNone);
  }
}

// A click 2.5 s into the silence starts the stretch again; level ticks, a second apart, do not.
TEST_F(MicrophoneSilence, OneLoudValueRestartsTheStretchAndLevelTicksDoNot) {
  const long click = 50L * kBufferValues + 1234;
  const Signal zerosWithClick = [click](long index) { return index == click ? 0.5f : 0.0f; };
  EXPECT_EQ(feed(100, zerosWithClick), kNone);  // 49 silent buffers after the click's
  for (int second = 0; second < 2; ++second) {
    levelTimer().fire();
    EXPECT_EQ(feed(20, zeros), kNone);
  }
  levelTimer().fire();
  EXPECT_EQ(feed(10, zeros), kNone);
  EXPECT_EQ(feed(1, zeros), kSilent);  // 5 s after the click's buffer
}

// 5 s are counted at the buffers' own rate, not at what a second delivered: a level second that
// a device change cut short leaves them 5 s, and a one-channel microphone's 50 buffers of 4800
// values are 5 s.
TEST_F(MicrophoneSilence, FiveSecondsAreCountedAtTheBuffersOwnRate) {
  EXPECT_EQ(feed(4, zeros), kNone);
  levelTimer().fire();
  EXPECT_EQ(feed(95, zeros), kNone);
  EXPECT_EQ(feed(1, zeros), kSilent);
  EXPECT_EQ(feed(1, quietRoom), kAudible);
  const platform::SampleLayout mono{48000, 1, true};
  EXPECT_EQ(feed(49, zeros, StreamOutputType::microphone, mono), kNone);
  EXPECT_EQ(feed(1, zeros, StreamOutputType::microphone, mono), kSilent);
}

// A microphone that delivers nothing leaves silence in the movie as a muted one does: each level
// second without it counts, but only while the system audio shows that the stream flowed.
TEST_F(MicrophoneSilence, SecondsInWhichTheMicrophoneDeliveredNothingAreSilence) {
  EXPECT_EQ(feed(20, zeros), kNone);
  levelTimer().fire();
  for (int second = 0; second < 3; ++second) EXPECT_EQ(secondWithoutMicrophone(true), kNone);
  EXPECT_EQ(secondWithoutMicrophone(false), kNone);
  EXPECT_EQ(secondWithoutMicrophone(true), kSilent);
  EXPECT_EQ(secondWithoutMicrophone(true), kNone);
  EXPECT_EQ(feed(1, quietRoom), kAudible);
  printedRecords([&] {
    platform.capture.sourceIsLost(StreamOutputType::microphone, test_support::scriptedError(1));
  });
  for (int second = 0; second < 6; ++second) EXPECT_EQ(secondWithoutMicrophone(true), kNone);
}

// While the microphone is lost, its silence is the tool's own: "source_lost" says it all. What
// comes after the recovery is judged afresh.
TEST_F(MicrophoneSilence, SilenceWhileTheMicrophoneIsLostIsNotItsMute) {
  auto& service = platform.capture;
  EXPECT_EQ(feed(60, zeros), kNone);
  printedRecords(
      [&] { service.sourceIsLost(StreamOutputType::microphone, test_support::scriptedError(1)); });
  EXPECT_EQ(feed(200, zeros), kNone);
  printedRecords([&] { service.sourceIsRestored(StreamOutputType::microphone, 10.0); });
  EXPECT_EQ(feed(99, zeros), kNone);
  EXPECT_EQ(feed(1, zeros), kSilent);
  printedRecords([&] {
    service.sourceIsLost(StreamOutputType::microphone, test_support::scriptedError(2));
    service.sourceIsRestored(StreamOutputType::microphone, 0.5);
  });
  EXPECT_EQ(feed(1, quietRoom), kNone);  // the stretch told before the loss ended with it
}

}  // namespace
}  // namespace capture
