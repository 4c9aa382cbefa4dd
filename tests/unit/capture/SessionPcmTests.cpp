#include <filesystem>
#include <fstream>

#include "SessionFixture.h"

namespace capture {
namespace {

using platform::StreamOutputType;
namespace fs = std::filesystem;

class SessionPcm : public SessionFixture {
 protected:
  void makeSession(PcmPaths paths, bool captureMicrophone = true,
                   fs::path movie = "/tmp/recording.mov") {
    SessionFixture::makeSession(captureMicrophone, std::nullopt, std::move(paths),
                                std::move(movie));
  }

  TestFolder folder;
};

TEST_F(SessionPcm, APathThatCannotBeWrittenFailsTheStartBeforeThePlatformIsAsked) {
  makeSession({folder / "missing" / "system.wav", std::nullopt});
  EXPECT_TRUE(outcomeIs(run(session->start()), ownError(12)));
  EXPECT_FALSE(platform.capture.configuration.has_value());

  // Standard output, where the records go, by its name or its descriptor: its own code, and
  // the records are not truncated.
  const fs::path records = folder / "records.jsonl";
  std::ofstream(records) << "kept\n";
  const auto startWithStandardOutputAtRecords = [&](PcmPaths paths) {
    StandardOutputAt redirected(records);
    makeSession(std::move(paths));
    return run(session->start());
  };
  EXPECT_TRUE(outcomeIs(startWithStandardOutputAtRecords({records, std::nullopt}), ownError(11)));
  EXPECT_TRUE(
      outcomeIs(startWithStandardOutputAtRecords({std::nullopt, "/dev/fd/1"}), ownError(11)));
  EXPECT_EQ(fs::file_size(records), 5U) << "the records were truncated";
  EXPECT_FALSE(platform.capture.configuration.has_value());
}

TEST_F(SessionPcm, AStreamThatWouldWriteIntoTheMovieOrTheOtherStreamFailsTheStartUntouched) {
  const fs::path movie = folder / "meeting.mov";
  const fs::path earlier = folder / "earlier.mov";
  std::ofstream(earlier) << "kept\n";
  fs::create_hard_link(earlier, folder / "earlier-link.mov");
  fs::create_directory_symlink(folder / ".", folder / "linked-folder");
  const auto refused = [&](PcmPaths paths, const fs::path& output) {
    makeSession(std::move(paths), true, output);
    return outcomeIs(run(session->start()), ownError(13));
  };
  EXPECT_TRUE(refused({movie, std::nullopt}, movie));
  EXPECT_TRUE(refused({std::nullopt, folder / "linked-folder" / "meeting.mov"}, movie));
  EXPECT_TRUE(refused({folder / "earlier-link.mov", std::nullopt}, earlier));
  EXPECT_TRUE(refused({folder / "both.f32", folder / "other" / ".." / "both.f32"}, movie));
  EXPECT_FALSE(fs::exists(movie) || fs::exists(folder / "both.f32"));
  EXPECT_EQ(fs::file_size(earlier), 5U) << "the earlier file was truncated";
  EXPECT_FALSE(platform.capture.configuration.has_value());

  // A device that takes any number of writers is no collision.
  makeSession({"/dev/null", "/dev/null"});
  startOrFail();
}

TEST_F(SessionPcm, StreamsAreCompleteAndOfOneLengthWhenTheFinalRecordComes) {
  makeSession({folder / "system.f32", folder / "microphone.f32"});
  startOrFail();
  platform.capture.deliverSamples(StreamOutputType::audio, constant(0.5F, 4800, 7.0));
  platform.capture.deliverSamples(StreamOutputType::microphone, constant(0.25F, 2400, 7.0));
  platform.capture.deliverSamples(StreamOutputType::screen, constant(0.75F, 4800, 7.0));
  EXPECT_TRUE(outcomeIs(run(session->stop()), kSuccess));
  EXPECT_EQ(fs::file_size(folder / "system.f32"), 8U * 4800);
  EXPECT_EQ(fs::file_size(folder / "microphone.f32"), 8U * 4800);
}

TEST_F(SessionPcm, TheMicrophonesPathIsNotUsedWithoutTheMicrophone) {
  makeSession({std::nullopt, folder / "microphone.wav"}, false);
  startOrFail();
  EXPECT_FALSE(fs::exists(folder / "microphone.wav"));
}

}  // namespace
}  // namespace capture
