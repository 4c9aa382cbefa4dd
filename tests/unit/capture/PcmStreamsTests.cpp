#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "SessionFixture.h"
#include "capture/PcmStreams.h"
#include "capture/WavHeader.h"
#include "platform/PcmSamples.h"
#include "support/ScriptedSampleBuffer.h"

namespace capture {
namespace {

using platform::StreamOutputType;
using test_support::ScriptedSampleBuffer;
namespace fs = std::filesystem;

constexpr int kRate = 48000;

// `frames` frames of `value` in every channel, stamped `at` seconds.
ScriptedSampleBuffer constant(float value, std::size_t frames, double at,
                              platform::SampleLayout layout = {}) {
  const std::vector<float> values(frames * layout.channels, value);
  auto buffer = ScriptedSampleBuffer::ofPieces(ScriptedSampleBuffer::bytesOf(values),
                                               {values.size() * sizeof(float)});
  buffer.sampleLayout = layout;
  buffer.presentation = at;
  return buffer;
}

std::vector<float> floatsOf(const fs::path& path, std::size_t skip = 0) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  if (bytes.size() < skip) return {};
  std::vector<float> values((bytes.size() - skip) / sizeof(float));
  if (!values.empty())
    std::memcpy(values.data(), bytes.data() + skip, values.size() * sizeof(float));
  return values;
}

// The stream as runs of equal left values: (value, frames), with every right value checked
// against its left.
std::vector<std::pair<float, std::size_t>> runsOf(const std::vector<float>& stereo) {
  std::vector<std::pair<float, std::size_t>> runs;
  for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) {
    EXPECT_EQ(stereo[i], stereo[i + 1]) << "frame " << i / 2;
    if (runs.empty() || runs.back().first != stereo[i]) runs.push_back({stereo[i], 0});
    ++runs.back().second;
  }
  return runs;
}

bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class PcmStreamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() /
             ("pcm-streams-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  std::unique_ptr<PcmStreams> open(PcmPaths paths, bool withMicrophone = true,
                                   std::uint64_t riffSizeLimit = kRiffSizeLimit) {
    return std::make_unique<PcmStreams>(
        paths, withMicrophone,
        [this](const events::EventRecord& record) {
          std::lock_guard guard(warningsLock);
          for (const auto& [key, value] : record.entries()) {
            if (key == "code") warnings.push_back(std::get<std::string>(value));
          }
        },
        riffSizeLimit);
  }

  void finish(PcmStreams& streams) {
    ASSERT_FALSE(std::holds_alternative<platform::PlatformError>(
        runOnMainQueue(platform, streams.finish(platform.dispatch().mainQueue()))));
  }

  std::vector<std::string> warningsSoFar() {
    std::lock_guard guard(warningsLock);
    return warnings;
  }

  test_support::ScriptedPlatform platform;
  fs::path folder;
  std::mutex warningsLock;
  std::vector<std::string> warnings;  // guarded by warningsLock
};

TEST_F(PcmStreamsTest, BuffersLieAtTheirTimesGapsAreSilenceAndStreamsEndTogether) {
  const fs::path system = folder / "system.f32";
  const fs::path microphone = folder / "microphone.f32";
  auto streams = open({system, microphone});
  // Ten system buffers of 0.1 s from 100 s on, stamped with a little jitter; the microphone
  // starts 0.25 s late, and misses 0.25 s after its second buffer.
  for (int i = 0; i < 10; ++i) {
    streams->add(StreamOutputType::audio, constant(0.5F, 4800, 100.0 + 0.1 * i + (i % 2) * 0.001));
  }
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 100.25));
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 100.35));
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 100.70));
  streams->add(StreamOutputType::screen, constant(0.75F, 4800, 100.0));
  finish(*streams);

  using Runs = std::vector<std::pair<float, std::size_t>>;
  EXPECT_EQ(runsOf(floatsOf(system)), (Runs{{0.5F, kRate}}));
  EXPECT_EQ(runsOf(floatsOf(microphone)),
            (Runs{{0.0F, 12000}, {0.25F, 9600}, {0.0F, 12000}, {0.25F, 4800}, {0.0F, 9600}}));
  EXPECT_TRUE(warningsSoFar().empty());
}

TEST_F(PcmStreamsTest, ASourceThatFallsFarBehindIsFilledWithSilenceWhileRecording) {
  const fs::path microphone = folder / "microphone.f32";
  auto streams = open({std::nullopt, microphone});
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 10.0));
  // Only the system audio comes on, for 3 s; the microphone's stream is written up to 2 s
  // behind it without waiting for the stop.
  for (int i = 0; i < 30; ++i)
    streams->add(StreamOutputType::audio, constant(0.5F, 4800, 10.0 + 0.1 * i));
  EXPECT_TRUE(eventually([&] { return fs::file_size(microphone) == 8U * kRate; }))
      << fs::file_size(microphone);
  // Audio that comes for time already filled is left out; what follows keeps its place.
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 10.9));
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 11.0));
  finish(*streams);
  using Runs = std::vector<std::pair<float, std::size_t>>;
  EXPECT_EQ(runsOf(floatsOf(microphone)),
            (Runs{{0.25F, 4800}, {0.0F, 43200}, {0.25F, 4800}, {0.0F, 91200}}));
}

// A file is written a batch at a time; what comes after the writer has gone idle, short of a
// batch (the last of a source that stops), is written within the batch wait, not at the stop.
TEST_F(PcmStreamsTest, LessThanABatchIsWrittenSoonAfterTheWriterWentIdle) {
  const fs::path system = folder / "system.f32";
  auto streams = open({system, std::nullopt});
  streams->add(StreamOutputType::audio, constant(0.5F, kRate / 5, 10.0));
  ASSERT_TRUE(eventually([&] { return fs::file_size(system) == 8U * kRate / 5; }));
  streams->add(StreamOutputType::audio, constant(0.5F, kRate / 10, 10.2));
  EXPECT_TRUE(eventually([&] { return fs::file_size(system) == 8U * kRate * 3 / 10; }))
      << fs::file_size(system);
}

TEST_F(PcmStreamsTest, OtherFormsBecomeStereoFloatAt48kHz) {
  const fs::path microphone = folder / "microphone.f32";
  auto streams = open({std::nullopt, microphone});
  // Signed 16-bit mono, as a headset delivers it, read through the platform's integer view.
  const std::vector<std::int16_t> integers(480, 16384);
  auto mono = ScriptedSampleBuffer::ofPieces(ScriptedSampleBuffer::bytesOf(integers), {960});
  mono.sampleLayout = {48000, 1, true};
  mono.presentation = 5.0;
  const platform::AudioStreamDescription int16Mono{
      platform::kLinearPcmFormat, platform::kPcmFlagIsSignedInteger | platform::kPcmFlagIsPacked, 2,
      1, 16};
  streams->add(StreamOutputType::microphone,
               platform::PcmSampleBuffer(mono, platform::sampleEncodingOf(int16Mono)));
  // Two channels, one after the other rather than interleaved.
  std::vector<float> planar(480, 0.125F);
  planar.insert(planar.end(), 480, -0.125F);
  auto split = ScriptedSampleBuffer::ofPieces(ScriptedSampleBuffer::bytesOf(planar), {1000, 2840});
  split.sampleLayout = {48000, 2, false};
  split.presentation = 5.01;
  streams->add(StreamOutputType::microphone, split);
  // 24 kHz: 0.1 s of it gives 0.1 s at 48 kHz, at its time.
  streams->add(StreamOutputType::microphone, constant(0.25F, 2400, 5.02, {24000, 1, true}));
  finish(*streams);

  const std::vector<float> stereo = floatsOf(microphone);
  ASSERT_EQ(stereo.size(), 2U * (480 + 480 + 4800));
  for (std::size_t f = 0; f < 480; ++f) {
    ASSERT_EQ(stereo[2 * f], 0.5F) << f;
    ASSERT_EQ(stereo[2 * f + 1], 0.5F) << f;
    ASSERT_EQ(stereo[2 * (480 + f)], 0.125F) << f;
    ASSERT_EQ(stereo[2 * (480 + f) + 1], -0.125F) << f;
  }
  // The resampler starts and ends a stretch against silence; in between the level is exact.
  for (std::size_t f = 960 + 100; f < 960 + 4700; ++f) ASSERT_NEAR(stereo[2 * f], 0.25F, 1e-4) << f;
}

TEST_F(PcmStreamsTest, InterleavedStereoIsTakenWholeWhetherInOnePieceOrMore) {
  const fs::path system = folder / "system.f32";
  auto streams = open({system, std::nullopt}, false);
  // Left and right apart, once in one piece and once in pieces that split a value.
  for (int i = 0; i < 2; ++i) {
    std::vector<float> values;
    for (int f = 0; f < 480; ++f) values.insert(values.end(), {0.25F, -0.25F});
    const std::size_t bytes = values.size() * sizeof(float);
    auto buffer = ScriptedSampleBuffer::ofPieces(
        ScriptedSampleBuffer::bytesOf(values),
        i == 0 ? std::vector<std::size_t>{bytes} : std::vector<std::size_t>{1002, bytes - 1002});
    buffer.sampleLayout = {48000, 2, true};
    buffer.presentation = 1.0 + 0.01 * i;
    streams->add(StreamOutputType::audio, buffer);
  }
  finish(*streams);
  const std::vector<float> stereo = floatsOf(system);
  ASSERT_EQ(stereo.size(), 2U * 960);
  for (std::size_t f = 0; f < 960; ++f) {
    ASSERT_EQ(stereo[2 * f], 0.25F) << f;
    ASSERT_EQ(stereo[2 * f + 1], -0.25F) << f;
  }
}

TEST_F(PcmStreamsTest, WavSizesAreTrueWhileRecordingAndBecomeRf64PastTheLimit) {
  const fs::path system = folder / "system.wav";
  // A limit of 200,000 bytes stands in for RIFF's 4 GiB.
  auto streams = open({system, std::nullopt}, false, 200000);
  auto dataSize = [&] {
    const std::vector<float> head = floatsOf(system);
    if (head.size() * 4 < kWavHeaderSize) return std::uint32_t{0};
    std::uint32_t size;
    std::memcpy(&size, reinterpret_cast<const char*>(head.data()) + 90, 4);
    return size;
  };
  for (int i = 0; i < 4; ++i) streams->add(StreamOutputType::audio, constant(0.5F, 4800, 0.1 * i));
  EXPECT_TRUE(eventually([&] { return dataSize() == 4 * 4800 * 8; })) << dataSize();
  for (int i = 4; i < 10; ++i) streams->add(StreamOutputType::audio, constant(0.5F, 4800, 0.1 * i));
  finish(*streams);

  std::ifstream in(system, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), kWavHeaderSize + 8U * kRate);
  EXPECT_EQ(std::string(bytes.data(), 4), "RF64");
  const WavHeader expected = wavHeader(8U * kRate, 200000);
  EXPECT_EQ(std::memcmp(bytes.data(), expected.data(), kWavHeaderSize), 0);
}

TEST_F(PcmStreamsTest, AFifoWaitsForItsReaderAndOutlivesIt) {
  const fs::path fifo = folder / "system.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // No reader yet: opening does not wait for one.
  auto streams = open({fifo, std::nullopt}, false);
  double at = 0.0;
  auto deliver = [&](int buffers) {
    for (int i = 0; i < buffers; ++i, at += 0.1) {
      streams->add(StreamOutputType::audio, constant(0.5F, 4800, at));
    }
  };
  deliver(5);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::vector<float> received;
  auto readAvailable = [&] {
    float values[4096];
    const ssize_t got = ::read(reader, values, sizeof values);
    if (got > 0) received.insert(received.end(), values, values + got / sizeof(float));
    return got;
  };
  // What came before the reader is silence to it, and it is where it belongs.
  ASSERT_TRUE(eventually([&] {
    readAvailable();
    return received.size() >= 2U * 24000;
  }));
  deliver(5);
  ASSERT_TRUE(eventually([&] {
    readAvailable();
    return received.size() >= 2U * kRate;
  }));
  using Runs = std::vector<std::pair<float, std::size_t>>;
  EXPECT_EQ(runsOf(received), (Runs{{0.0F, 24000}, {0.5F, 24000}}));

  ::close(reader);
  deliver(5);
  EXPECT_TRUE(
      eventually([&] { return warningsSoFar() == std::vector<std::string>{"pcm_reader_gone"}; }));
  finish(*streams);
}

TEST_F(PcmStreamsTest, AReaderThatTakesNothingHoldsTheFinishOnlyForItsDrainTime) {
  const fs::path fifo = folder / "system.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto streams = open({fifo, std::nullopt}, false);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  // A second is more than the pipe holds: the writer waits for the reader.
  for (int i = 0; i < 10; ++i) {
    streams->add(StreamOutputType::audio, constant(0.5F, 4800, 0.1 * i));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto began = std::chrono::steady_clock::now();
  finish(*streams);
  const auto took = std::chrono::steady_clock::now() - began;
  ::close(reader);
  EXPECT_GE(took, PcmStreams::kDrainTime - std::chrono::milliseconds(100));
  EXPECT_LT(took, PcmStreams::kDrainTime + std::chrono::seconds(1));
}

TEST_F(PcmStreamsTest, PathsThatCannotBeWrittenAreRefusedAtOnce) {
  auto refused = [&](PcmPaths paths, bool withMicrophone = true) {
    try {
      open(paths, withMicrophone);
    } catch (const PcmStreams::OpenFailure&) {
      return true;
    }
    return false;
  };
  EXPECT_TRUE(refused({folder / "missing" / "s.f32", std::nullopt}));
  EXPECT_TRUE(refused({folder / "s.f32", folder / "missing" / "m.wav"}));
  EXPECT_TRUE(refused({fs::path("/dev/fd/987"), std::nullopt}));
  // The microphone's path counts only with the microphone.
  EXPECT_FALSE(refused({std::nullopt, folder / "missing" / "m.wav"}, false));
}

}  // namespace
}  // namespace capture
