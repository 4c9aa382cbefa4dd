#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "SessionFixture.h"

namespace capture {
namespace {

using platform::StreamOutputType;
using test_support::ScriptedSampleBuffer;
namespace fs = std::filesystem;

ScriptedSampleBuffer constant(float value, std::size_t frames, double at) {
  auto buffer = ScriptedSampleBuffer::ofPieces(
      ScriptedSampleBuffer::bytesOf(std::vector<float>(2 * frames, value)), {8 * frames});
  buffer.presentation = at;
  return buffer;
}

class SessionPcm : public SessionFixture {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("session-pcm-" + std::to_string(getpid()));
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  void makeSession(PcmPaths paths, bool captureMicrophone = true) {
    session = CaptureSession::create(platform, sink, "/tmp/recording.mov", captureMicrophone,
                                     std::nullopt, std::move(paths));
  }

  fs::path folder;
};

TEST_F(SessionPcm, APathThatCannotBeWrittenFailsTheStartBeforeThePlatformIsAsked) {
  makeSession({folder / "missing" / "system.wav", std::nullopt});
  expectSameError(failureOf(run(session->start())), ownError(12));
  EXPECT_FALSE(platform.capture.configuration.has_value());

  // Standard output, where the records go, by its name or its descriptor: its own code, and
  // the records are not truncated.
  const fs::path records = folder / "records.jsonl";
  std::ofstream(records) << "kept\n";
  std::fflush(stdout);
  const int savedStdout = ::dup(STDOUT_FILENO);
  const int recordsFile = ::open(records.c_str(), O_WRONLY | O_APPEND);
  ::dup2(recordsFile, STDOUT_FILENO);
  makeSession({records, std::nullopt});
  const auto byName = run(session->start());
  makeSession({std::nullopt, fs::path("/dev/fd/1")});
  const auto byDescriptor = run(session->start());
  ::dup2(savedStdout, STDOUT_FILENO);
  ::close(savedStdout);
  ::close(recordsFile);
  expectSameError(failureOf(byName), ownError(11));
  expectSameError(failureOf(byDescriptor), ownError(11));
  EXPECT_EQ(fs::file_size(records), 5U) << "the records were truncated";
  EXPECT_FALSE(platform.capture.configuration.has_value());
}

TEST_F(SessionPcm, StreamsAreCompleteAndOfOneLengthWhenTheFinalRecordComes) {
  const fs::path system = folder / "system.f32";
  const fs::path microphone = folder / "microphone.f32";
  makeSession({system, microphone});
  startOrFail();
  platform.capture.deliverSamples(StreamOutputType::audio, constant(0.5F, 4800, 7.0));
  platform.capture.deliverSamples(StreamOutputType::microphone, constant(0.25F, 2400, 7.0));
  platform.capture.deliverSamples(StreamOutputType::screen, constant(0.75F, 4800, 7.0));
  const auto stopped = run(session->stop());
  ASSERT_TRUE(std::holds_alternative<events::EventRecord>(stopped));
  EXPECT_EQ(fs::file_size(system), 8U * 4800);
  EXPECT_EQ(fs::file_size(microphone), 8U * 4800);
}

TEST_F(SessionPcm, TheMicrophonesPathIsNotUsedWithoutTheMicrophone) {
  makeSession({std::nullopt, folder / "microphone.wav"}, false);
  startOrFail();
  EXPECT_FALSE(fs::exists(folder / "microphone.wav"));
}

}  // namespace
}  // namespace capture
