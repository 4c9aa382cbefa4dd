#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

#include "SessionFixture.h"
#include "capture/PcmStreams.h"
#include "capture/WavHeader.h"
#include "platform/PcmSamples.h"

namespace capture {
namespace {

using platform::StreamOutputType;
using test_support::ScriptedSampleBuffer;
namespace fs = std::filesystem;

constexpr int kRate = 48000;

std::vector<char> bytesOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<float> floatsOf(const fs::path& path) {
  const std::vector<char> bytes = bytesOf(path);
  std::vector<float> values(bytes.size() / sizeof(float));
  if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

// The stream as runs of equal left values: (value, frames), with every right value checked
// against its left.
using Runs = std::vector<std::pair<float, std::size_t>>;
Runs runsOf(const std::vector<float>& stereo) {
  Runs runs;
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
  void open(PcmPaths paths, bool withMicrophone = true,
            std::uint64_t riffSizeLimit = kRiffSizeLimit) {
    streams = std::make_unique<PcmStreams>(
        paths, withMicrophone, [this](const auto& record) { warnings.emit(record); }, riffSizeLimit,
        [] { return clock; });
  }

  // `count` buffers of 0.1 s of system audio, one after the other from `at` seconds.
  void addSystem(int count, double at) {
    for (int i = 0; i < count; ++i) {
      streams->add(StreamOutputType::audio, constant(0.5F, 4800, at + 0.1 * i));
    }
  }

  void finish() {
    ASSERT_FALSE(std::holds_alternative<platform::PlatformError>(
        runOnMainQueue(platform, streams->finish(platform.dispatch().mainQueue()))));
  }

  // What the streams take for the present; it stands still unless a test moves it.
  static inline PcmStreams::Clock::time_point clock;
  test_support::ScriptedPlatform platform;
  TestFolder folder;
  test_support::RecordedEvents warnings;
  std::unique_ptr<PcmStreams> streams;
};

TEST_F(PcmStreamsTest, BuffersLieAtTheirTimesGapsAreSilenceAndStreamsEndTogether) {
  open({folder / "system.f32", folder / "microphone.f32"});
  // Ten system buffers of 0.1 s from 100 s on, stamped with a little jitter; the microphone
  // starts 0.25 s late, and misses 0.25 s after its second buffer.
  for (int i = 0; i < 10; ++i) {
    streams->add(StreamOutputType::audio, constant(0.5F, 4800, 100.0 + 0.1 * i + (i % 2) * 0.001));
  }
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 100.25));
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 100.35));
  streams->add(StreamOutputType::microphone, constant(0.25F, 4800, 100.70));
  streams->add(StreamOutputType::screen, constant(0.75F, 4800, 100.0));
  finish();

  EXPECT_EQ(runsOf(floatsOf(folder / "system.f32")), (Runs{{0.5F, kRate}}));
  EXPECT_EQ(runsOf(floatsOf(folder / "microphone.f32")),
            (Runs{{0.0F, 12000}, {0.25F, 9600}, {0.0F, 12000}, {0.25F, 4800}, {0.0F, 9600}}));
  EXPECT_EQ(warnings.records(), std::vector<nlohmann::json>{});
}

TEST_F(PcmStreamsTest, ASourceFarBehindIsFilledWithSilenceOnlyWhileItDeliversNothing) {
  const fs::path microphone = folder / "microphone.f32";
  open({std::nullopt, microphone});
  const auto addMicrophone = [&](int count, double at) {
    for (int i = 0; i < count; ++i) {
      streams->add(StreamOutputType::microphone, constant(0.25F, 4800, at + 0.1 * i));
    }
  };
  addSystem(1, 10.0);
  addMicrophone(1, 10.0);
  // The tool stood still; the system's backlog of 3 s comes first, the microphone's 10 ms
  // later: it is all kept.
  clock += std::chrono::seconds(3);
  addSystem(30, 10.1);
  clock += std::chrono::milliseconds(10);
  addMicrophone(30, 10.1);
  // Then only the system audio comes on, for 3 s; the microphone's stream is written up to 2 s
  // behind it, once it has stayed that far behind for the grace, without waiting for the stop.
  for (int i = 0; i < 30; ++i) {
    clock += std::chrono::milliseconds(100);
    addSystem(1, 13.1 + 0.1 * i);
  }
  EXPECT_TRUE(eventually([&] { return fs::file_size(microphone) == 8U * (4 * kRate + 4800); }))
      << fs::file_size(microphone);
  // Audio that comes for time already filled is left out; what follows keeps its place.
  addMicrophone(2, 14.0);
  finish();
  EXPECT_EQ(runsOf(floatsOf(microphone)),
            (Runs{{0.25F, 3 * kRate + 4800}, {0.0F, kRate}, {0.25F, 4800}, {0.0F, kRate + 43200}}));
}

// What a sound server held while the tool stood still comes in one buffer; the writer has had
// no chance to take any of it yet.
TEST_F(PcmStreamsTest, TenSecondsThatComeAtOnceAreKeptWhole) {
  const fs::path system = folder / "system.f32";
  open({system, std::nullopt}, false);
  streams->add(StreamOutputType::audio, constant(0.5F, 10 * kRate, 10.0));
  finish();
  EXPECT_EQ(runsOf(floatsOf(system)), (Runs{{0.5F, 10 * kRate}}));
  EXPECT_EQ(warnings.records(), std::vector<nlohmann::json>{});
}

// A file is written a batch at a time; what comes after the writer has gone idle, short of a
// batch (the last of a source that stops), is written within the batch wait, not at the stop.
TEST_F(PcmStreamsTest, LessThanABatchIsWrittenSoonAfterTheWriterWentIdle) {
  const fs::path system = folder / "system.f32";
  open({system, std::nullopt});
  streams->add(StreamOutputType::audio, constant(0.5F, kRate / 5, 10.0));
  ASSERT_TRUE(eventually([&] { return fs::file_size(system) == 8U * kRate / 5; }));
  streams->add(StreamOutputType::audio, constant(0.5F, kRate / 10, 10.2));
  EXPECT_TRUE(eventually([&] { return fs::file_size(system) == 8U * kRate * 3 / 10; }))
      << fs::file_size(system);
}

// 10 ms of each form, one after the other, then 0.1 s at 24 kHz.
TEST_F(PcmStreamsTest, OtherFormsBecomeStereoFloatAt48kHz) {
  open({std::nullopt, folder / "microphone.f32"});
  const auto add = [&](const platform::SampleBuffer& buffer) {
    streams->add(StreamOutputType::microphone, buffer);
  };
  // Signed 16-bit mono, as a headset delivers it, read through the platform's integer view.
  const std::vector<std::int16_t> integers(480, 16384);
  auto mono = ScriptedSampleBuffer::ofPieces(ScriptedSampleBuffer::bytesOf(integers), {960});
  mono.sampleLayout = {48000, 1, true};
  mono.presentation = 5.0;
  const platform::AudioStreamDescription int16Mono{
      platform::kLinearPcmFormat, platform::kPcmFlagIsSignedInteger | platform::kPcmFlagIsPacked, 2,
      1, 16};
  add(platform::PcmSampleBuffer(mono, platform::sampleEncodingOf(int16Mono)));
  // Two channels, one after the other rather than interleaved.
  std::vector<float> planar(480, 0.125F);
  planar.insert(planar.end(), 480, -0.125F);
  add(floats(planar, {48000, 2, false}, 5.01, {1000, 2840}));
  // Left and right apart, interleaved, in one piece and in pieces that split a value.
  std::vector<float> interleaved;
  for (int f = 0; f < 480; ++f) interleaved.insert(interleaved.end(), {0.25F, -0.25F});
  add(floats(interleaved, {}, 5.02));
  add(floats(interleaved, {}, 5.03, {1002, 2838}));
  add(constant(0.25F, 2400, 5.04, {24000, 1, true}));
  finish();

  const std::vector<float> stereo = floatsOf(folder / "microphone.f32");
  ASSERT_EQ(stereo.size(), 2U * (4 * 480 + 4800));
  const std::pair<float, float> frames[] = {
      {0.5F, 0.5F}, {0.125F, -0.125F}, {0.25F, -0.25F}, {0.25F, -0.25F}};
  for (std::size_t f = 0; f < 4 * 480; ++f) {
    ASSERT_EQ(stereo[2 * f], frames[f / 480].first) << f;
    ASSERT_EQ(stereo[2 * f + 1], frames[f / 480].second) << f;
  }
  // The resampler starts and ends a stretch against silence; in between the level is exact.
  for (std::size_t f = 1920 + 100; f < 1920 + 4700; ++f) {
    ASSERT_NEAR(stereo[2 * f], 0.25F, 1e-4) << f;
  }
}

TEST_F(PcmStreamsTest, WavSizesAreTrueWhileRecordingAndBecomeRf64PastTheLimit) {
  const fs::path system = folder / "system.wav";
  // A limit of 200,000 bytes stands in for RIFF's 4 GiB.
  open({system, std::nullopt}, false, 200000);
  auto dataSize = [&] {
    const std::vector<char> head = bytesOf(system);
    std::uint32_t size = 0;
    if (head.size() >= kWavHeaderSize) std::memcpy(&size, head.data() + 90, 4);
    return size;
  };
  addSystem(4, 0.0);
  EXPECT_TRUE(eventually([&] { return dataSize() == 4 * 4800 * 8; })) << dataSize();
  addSystem(6, 0.4);
  finish();

  const std::vector<char> bytes = bytesOf(system);
  ASSERT_EQ(bytes.size(), kWavHeaderSize + 8U * kRate);
  const WavHeader expected = wavHeader(8U * kRate, 200000);
  EXPECT_EQ(std::memcmp(bytes.data(), expected.data(), kWavHeaderSize), 0);
}

TEST_F(PcmStreamsTest, AFifoWaitsForItsReaderAndOutlivesIt) {
  const fs::path fifo = folder / "system.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // No reader yet: opening does not wait for one.
  open({fifo, std::nullopt}, false);
  addSystem(5, 0.0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::vector<float> received;
  auto receivedAtLeast = [&](std::size_t frames) {
    return eventually([&] {
      float values[4096];
      const ssize_t got = ::read(reader, values, sizeof values);
      if (got > 0) received.insert(received.end(), values, values + got / sizeof(float));
      return received.size() >= 2 * frames;
    });
  };
  // What came before the reader is silence to it, and it is where it belongs.
  ASSERT_TRUE(receivedAtLeast(24000));
  addSystem(5, 0.5);
  ASSERT_TRUE(receivedAtLeast(kRate));
  EXPECT_EQ(runsOf(received), (Runs{{0.0F, 24000}, {0.5F, 24000}}));

  ::close(reader);
  addSystem(5, 1.0);
  const nlohmann::json readerGone{
      {"event", "warning"}, {"code", "pcm_reader_gone"}, {"source", "system"}};
  EXPECT_TRUE(eventually([&] { return warnings.records() == std::vector{readerGone}; }));
  finish();
}

TEST_F(PcmStreamsTest, AReaderThatTakesNothingHoldsTheFinishOnlyForItsDrainTime) {
  const fs::path fifo = folder / "system.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  open({fifo, std::nullopt}, false);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  // A second is more than the pipe holds: the writer waits for the reader.
  addSystem(10, 0.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto began = std::chrono::steady_clock::now();
  finish();
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
