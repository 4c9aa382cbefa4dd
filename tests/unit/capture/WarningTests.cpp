#include <filesystem>
#include <fstream>
#include <mutex>
#include <semaphore>
#include <thread>

#include "SessionFixture.h"

namespace capture {
namespace {

using nlohmann::json;
using platform::StreamOutputType;
using test_support::scriptedError;
namespace fs = std::filesystem;

using Warnings = SessionFixture;

json lost(const std::string& source, std::int64_t code) {
  return {{"event", "warning"},           {"code", "source_lost"}, {"source", source},
          {"errorName", "ScriptedError"}, {"domain", "Server"},    {"errorCode", code}};
}

json restored(const std::string& source, double gapSeconds) {
  return {{"event", "warning"},
          {"code", "source_restored"},
          {"source", source},
          {"gapSeconds", gapSeconds}};
}

// A parent counts losses and recoveries: each loss is told once, each recovery only after one.
TEST_F(Warnings, EachLossIsToldOnceAndEachRecoveryOnlyAfterALoss) {
  makeSession(true);
  startOrFail();
  auto& service = platform.capture;
  const auto records = printedRecords([&] {
    service.sourceIsRestored(StreamOutputType::microphone, 3.0);  // never lost
    service.sourceIsLost(StreamOutputType::microphone, scriptedError(5, "Server"));
    service.sourceIsLost(StreamOutputType::microphone, scriptedError(6, "Server"));
    service.sourceIsLost(StreamOutputType::screen, scriptedError(7, "Server"));
    service.sourceIsRestored(StreamOutputType::microphone, 1.5);
    service.sourceIsRestored(StreamOutputType::microphone, 2.5);
    service.sourceIsLost(StreamOutputType::audio, scriptedError(8, "Server"));
    service.sourceIsLost(StreamOutputType::microphone, scriptedError(9, "Server"));
    service.sourceIsRestored(StreamOutputType::audio, 0.25);
  });
  EXPECT_EQ(records, (std::vector<json>{lost("microphone", 5), restored("microphone", 1.5),
                                        lost("system", 8), lost("microphone", 9),
                                        restored("system", 0.25)}));
}

// Audio the server dropped leaves silence the parent would otherwise find only in the movie;
// within a loss it is part of the gap the recovery tells.
TEST_F(Warnings, DroppedAudioIsToldOutsideALossOfThatSource) {
  const auto dropped = [](const std::string& source, double seconds) {
    return json{{"event", "warning"},
                {"code", "audio_dropped"},
                {"source", source},
                {"droppedSeconds", seconds}};
  };
  for (const bool microphone : {true, false}) {
    SCOPED_TRACE(microphone ? "with the microphone" : "without it");
    makeSession(microphone);
    startOrFail();
    auto& service = platform.capture;
    const auto records = printedRecords([&] {
      service.sourceDropsAudio(StreamOutputType::microphone, 4.5);
      service.sourceIsLost(StreamOutputType::audio, scriptedError(8, "Server"));
      service.sourceDropsAudio(StreamOutputType::audio, 1.9);
      service.sourceIsRestored(StreamOutputType::audio, 3.0);
      service.sourceDropsAudio(StreamOutputType::audio, 5.25);
    });
    std::vector<json> expected{lost("system", 8), restored("system", 3.0), dropped("system", 5.25)};
    if (microphone) expected.insert(expected.begin(), dropped("microphone", 4.5));
    EXPECT_EQ(records, expected);
  }
}

// The parent hears where sound plays unrecorded, and which output is muted, once for each
// output and once when it ends, however often the platform reads the same; a first reading of
// none tells nothing.
TEST_F(Warnings, OutputFindingsAreToldOnceForEachOutputAndAtTheirEnd) {
  using Report = void (test_support::ScriptedCapture::*)(const std::optional<std::string>&);
  const struct {
    Report report;
    std::string code;
    std::string endCode;
  } findings[] = {
      {&test_support::ScriptedCapture::soundPlaysUnrecorded, "audio_elsewhere",
       "audio_elsewhere_ended"},
      {&test_support::ScriptedCapture::outputIsMuted, "output_muted", "output_audible"},
  };
  for (const auto& finding : findings) {
    SCOPED_TRACE(finding.code);
    makeSession(true);
    startOrFail();
    auto& service = platform.capture;
    const auto records = printedRecords([&] {
      for (const char* output : {"", "Headset", "Headset", "Speakers", "", ""}) {
        (service.*finding.report)(*output ? std::optional<std::string>(output) : std::nullopt);
      }
    });
    const auto told = [&](const std::string& output) {
      return json{{"event", "warning"}, {"code", finding.code}, {"output", output}};
    };
    EXPECT_EQ(records, (std::vector<json>{told("Headset"),
                                          told("Speakers"),
                                          {{"event", "warning"}, {"code", finding.endCode}}}));
  }
}

// A stream that stops takes every captured source with it: the parent hears of each not yet
// lost at once, and the stop still fails with the stream's error.
TEST_F(Warnings, AStoppedStreamLosesEveryCapturedSourceNotLostAlready) {
  const struct {
    const char* what;
    bool microphone;
    bool microphoneLostBefore;
    std::vector<json> expected;
  } cases[] = {
      {"both sources", true, false, {lost("system", -3821), lost("microphone", -3821)}},
      {"microphone lost before", true, true, {lost("microphone", 4), lost("system", -3821)}},
      {"no microphone", false, true, {lost("system", -3821)}},
  };
  for (const auto& [what, microphone, microphoneLostBefore, expected] : cases) {
    SCOPED_TRACE(what);
    makeSession(microphone);
    startOrFail();
    auto& service = platform.capture;
    const auto records = printedRecords([&] {
      if (microphoneLostBefore) {
        service.sourceIsLost(StreamOutputType::microphone, scriptedError(4, "Server"));
      }
      service.streamStopsWithError(scriptedError(-3821, "Server"));
    });
    EXPECT_EQ(records, expected);
    EXPECT_TRUE(outcomeIs(run(session->stop()), scriptedError(-3821, "Server")));
  }
}

// The parent hears of a movie that can no longer be written at once, not only at the stop.
TEST_F(Warnings, AFailedRecordingIsToldAtOnceAndStillFailsTheStop) {
  makeSession(true);
  startOrFail();
  const auto records =
      printedRecords([&] { platform.capture.recordingFails(scriptedError(28, "Disk")); });
  EXPECT_EQ(records, (std::vector<json>{{{"event", "warning"},
                                         {"code", "recording_failed"},
                                         {"errorName", "ScriptedError"},
                                         {"domain", "Disk"},
                                         {"errorCode", 28}}}));
  EXPECT_TRUE(outcomeIs(run(session->stop()), scriptedError(28, "Disk")));
}

TEST_F(Warnings, DiskSpaceForLessThanFiveMinutesIsTold) {
  makeSession(false);
  startOrFail();
  const auto records = printedRecords([&] {
    diskTimer().fire();  // the storage cannot be read: nothing to go by
    platform.disk.set({{1'000, 1'000'000'000}});
    diskTimer().fire();
    platform.disk.set({{2'000, 1'000}});  // 1,000 bytes in well under a second: gone in as long
    diskTimer().fire();
  });
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0]["code"], "disk_low");
  EXPECT_TRUE(records[0]["secondsLeft"].is_number_unsigned()) << records[0];
  EXPECT_LT(records[0]["secondsLeft"].get<int>(), 300);
}

// Each source's own file grows twenty times as fast as the movie: on the movie's disk it fills
// that disk at its rate, and the time left is told by it; on a disk of its own (a small /tmp) it
// fills that one, told with its path; unused, it counts nowhere.
TEST(DiskLow, EachDiskTheRecordingFillsIsWatched) {
  const TestFolder folder;
  std::ofstream(folder / "take.mov") << "movie";  // what the recording output would have begun
  // "/dev/null" stands for a file on another disk: it is on another device, and the scripted
  // storage reads it as a file of the size it is given.
  const fs::path elsewhere = "/dev/null";
  for (const bool microphone : {true, false}) {
    SCOPED_TRACE(microphone ? "with the microphone" : "without");
    ScriptedSession scripted;
    scripted.makeSession(microphone, std::nullopt, {elsewhere, folder / "microphone.wav"},
                         folder / "take.mov");
    scripted.startOrFail();
    scripted.platform.disk.set({{1'000, 1'000'000'000}});
    const auto records = scripted.printedRecords([&] {
      scripted.diskTimer().fire();
      for (const auto& source : {elsewhere, folder / "microphone.wav"}) {
        scripted.platform.disk.setFileBytes(source, 50'000'000);  // the movie stays as it was
      }
      scripted.diskTimer().fire();
    });
    std::vector<json> told;
    for (const auto& record : records) {
      told.push_back({{"code", record["code"]}, {"path", record.value("path", "")}});
    }
    std::vector<json> expected{{{"code", "disk_low"}, {"path", elsewhere.string()}}};
    if (microphone) expected.insert(expected.begin(), json{{"code", "disk_low"}, {"path", ""}});
    EXPECT_EQ(told, expected);
    EXPECT_TRUE(outcomeIs(scripted.run(scripted.session->stop()), kSuccess));
  }
}

// A movie moved or deleted while recording is lost to the parent at the stop; told at once, the
// parent can stop and record anew, or put it back.
TEST_F(Warnings, AMovieNoLongerAtItsPathIsToldAtOnceAndItsReturnToo) {
  const TestFolder folder;
  std::ofstream(folder / "take.mov") << "movie";  // what the recording output would have begun
  makeSession(false, std::nullopt, {}, folder / "take.mov");
  startOrFail();
  const auto warning = [](const char* code) { return json{{"event", "warning"}, {"code", code}}; };
  const auto records = printedRecords([&] {
    diskTimer().fire();
    fs::rename(folder / "take.mov", folder / "moved.mov");
    diskTimer().fire();
    diskTimer().fire();
    fs::rename(folder / "moved.mov", folder / "take.mov");
    diskTimer().fire();
    fs::remove(folder / "take.mov");
    diskTimer().fire();
  });
  EXPECT_EQ(records, (std::vector<json>{warning("movie_gone"), warning("movie_returned"),
                                        warning("movie_gone")}));
  EXPECT_TRUE(outcomeIs(run(session->stop()), ownError(10)));
}

// "final" or the stop's error is the last record: what the platform reports once the stop has
// decided goes only into the stored failure.
TEST_F(Warnings, NothingIsToldAfterTheStopHasDecided) {
  makeSession(true);
  startOrFail();
  EXPECT_TRUE(outcomeIs(run(session->stop()), kSuccess));
  const auto records = printedRecords([&] {
    platform.capture.sourceIsLost(StreamOutputType::audio, scriptedError(5, "Server"));
    platform.capture.streamStopsWithError(scriptedError(6, "Server"));
    platform.capture.recordingFails(scriptedError(7, "Disk"));
  });
  EXPECT_EQ(records, std::vector<json>{});
}

// A sink whose first level record is held until the test lets it go, as a tick that is slow to
// write would be.
class HeldLevelSink final : public events::EventSink {
 public:
  void emit(const events::EventRecord& record) override {
    const std::string kind = std::get<std::string>(record.entries()[0].second);
    if (kind == "level") {
      entered.release();
      released.acquire();
    }
    std::lock_guard guard(lock);
    order.push_back(kind);
  }
  void flush() override {}

  std::binary_semaphore entered{0};
  std::binary_semaphore released{0};
  std::mutex lock;
  std::vector<std::string> order;  // guarded by lock; read once the writers are done
};

// A tick already running when the stop cancels the timer is over before the stop yields
// "final", so that "final" is the last record.
TEST(FinalIsLast, TheStopWaitsForATickRunningInItsHandler) {
  test_support::ScriptedPlatform platform;
  HeldLevelSink sink;
  auto session = CaptureSession::create(platform, sink, "/tmp/recording.mov", false, {});
  ASSERT_TRUE(std::holds_alternative<std::monostate>(runOnMainQueue(platform, session->start())));
  std::jthread tick([&] { platform.scriptedDispatch.timers.at(0)->fire(); });
  sink.entered.acquire();
  std::jthread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sink.released.release();
  });
  auto outcome = runOnMainQueue(platform, session->stop());
  const auto* record = std::get_if<events::EventRecord>(&outcome);
  ASSERT_NE(record, nullptr);
  sink.emit(*record);
  tick.join();
  EXPECT_EQ(sink.order, (std::vector<std::string>{"level", "final"}));
}

}  // namespace
}  // namespace capture
