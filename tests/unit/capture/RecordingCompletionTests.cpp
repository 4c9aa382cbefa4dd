#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "SessionFixture.h"

namespace capture {
namespace {

using namespace std::chrono_literals;
using test_support::FinishOnStop;
using test_support::scriptedError;
using test_support::ScriptedPlatform;

platform::PlatformError failure(std::int64_t code) {
  return scriptedError(code, "Failure");
}

// How a recording ends, as the service tells it; codes are of failure().
struct Ending {
  FinishOnStop onStop = FinishOnStop::afterStopCompletes;  // fail: with code 28
  bool finishedBeforeStop = false;
  std::optional<std::int64_t> streamFailedBeforeStop{};
  std::optional<std::int64_t> recordingFailedBeforeStop{};
  std::optional<std::int64_t> stopError{};
  enum { nothing, finish, fail } duringTheWait = nothing;  // fail: with code 28
};

struct Stopped {
  Outcome<events::EventRecord> outcome;
  std::chrono::steady_clock::duration took;
  std::vector<std::chrono::nanoseconds> timeouts;
  int outputRemovals;
  bool outputsRemovedWhileRecording;
};

// Stops a started session that ends as told. The wait for the file keeps its whole 15 seconds
// when something happens during it, so that an event that did not end the wait shows in
// `took`; else it is cut to 30 ms.
Stopped stopWith(const Ending& ending) {
  ScriptedPlatform platform;
  test_support::RecordedEvents sink;
  platform.scriptedDispatch.delayScale = ending.duringTheWait ? 1.0 : 0.002;
  auto session = CaptureSession::create(platform, sink, "/tmp/recording.mov", true, std::nullopt);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(runOnMainQueue(platform, session->start())));
  auto& service = platform.capture;
  service.finishOnStop = ending.onStop;
  service.failureOnStop = failure(28);
  if (ending.finishedBeforeStop) service.recordingFinishes();
  if (ending.streamFailedBeforeStop)
    service.streamStopsWithError(failure(*ending.streamFailedBeforeStop));
  if (ending.recordingFailedBeforeStop)
    service.recordingFails(failure(*ending.recordingFailedBeforeStop));
  if (ending.stopError) service.stopError = failure(*ending.stopError);
  std::jthread serviceThread([&] {
    if (!ending.duringTheWait) return;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (platform.scriptedDispatch.delaysScheduled == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    if (ending.duringTheWait == Ending::finish) service.recordingFinishes();
    if (ending.duringTheWait == Ending::fail) service.recordingFails(failure(28));
  });
  const auto began = std::chrono::steady_clock::now();
  auto outcome = runOnMainQueue(platform, session->stop());
  return {std::move(outcome), std::chrono::steady_clock::now() - began,
          platform.scriptedDispatch.requestedDelays, service.outputRemovals,
          service.outputsRemovedWhileRecording};
}

// Each ending with what the stop gives: the final record (no error) or this error. Every wait for
// the file is the documented 15 seconds. The outputs are removed once the file has ended, never
// while it may still be written.
TEST(RecordingCompletion, EachEndingGivesTheFinalRecordOrItsError) {
  const struct {
    const char* what;
    Ending ending;
    std::optional<platform::PlatformError> error;
    bool fileEnds = true;
  } cases[] = {
      {"finish after the stop completes", {}, {}},
      {"finish before the stop completes", {.onStop = FinishOnStop::beforeStopCompletes}, {}},
      {"finish before the stop", {.onStop = FinishOnStop::never, .finishedBeforeStop = true}, {}},
      {"finish during the wait",
       {.onStop = FinishOnStop::never, .duringTheWait = Ending::finish},
       {}},
      {"started but never finished", {.onStop = FinishOnStop::never}, ownError(2), false},
      {"recording fails at the stop", {.onStop = FinishOnStop::fail}, failure(28)},
      {"recording fails during the wait",
       {.onStop = FinishOnStop::never, .duringTheWait = Ending::fail},
       failure(28)},
      {"stop fails though the file finished", {.stopError = -3808}, failure(-3808)},
      {"stream failed, then the stop",
       {.streamFailedBeforeStop = -3821, .stopError = -3808},
       failure(-3821)},
      {"stream failed, then the recording",
       {.streamFailedBeforeStop = 1, .recordingFailedBeforeStop = 2},
       failure(2)},
  };
  for (const auto& [what, ending, error, fileEnds] : cases) {
    SCOPED_TRACE(what);
    const Stopped stopped = stopWith(ending);
    EXPECT_EQ(stopped.outputRemovals, fileEnds ? 1 : 0);
    EXPECT_FALSE(stopped.outputsRemovedWhileRecording);
    if (error) {
      expectSameError(failureOf(stopped.outcome), *error);
    } else {
      EXPECT_TRUE(std::holds_alternative<events::EventRecord>(stopped.outcome));
    }
    EXPECT_LT(stopped.took, 5s);
    for (const auto timeout : stopped.timeouts) EXPECT_EQ(timeout, 15s);
  }
}

// A movie deleted, renamed away or replaced while recording is complete nowhere the parent will
// look: the stop must not say it is.
TEST(RecordingCompletion, AMovieNoLongerAtItsPathFailsTheStop) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("movie-gone-" + std::to_string(getpid()));
  const fs::path movie = folder / "take.mov";
  const struct {
    const char* what;
    std::function<void()> meanwhile;
    bool gone;
  } cases[] = {
      {"left alone", [] {}, false},
      {"deleted", [&] { fs::remove(movie); }, true},
      {"renamed away", [&] { fs::rename(movie, folder / "elsewhere.mov"); }, true},
      {"replaced by another file",
       [&] {
         std::ofstream(folder / "other.mov") << "another";
         fs::rename(folder / "other.mov", movie);
       },
       true},
  };
  for (const auto& [what, meanwhile, gone] : cases) {
    SCOPED_TRACE(what);
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(movie) << "movie";  // what the recording output would have begun
    ScriptedPlatform platform;
    test_support::RecordedEvents sink;
    platform.scriptedDispatch.delayScale = 0.002;
    auto session = CaptureSession::create(platform, sink, movie, false, std::nullopt);
    ASSERT_TRUE(std::holds_alternative<std::monostate>(runOnMainQueue(platform, session->start())));
    meanwhile();
    const auto outcome = runOnMainQueue(platform, session->stop());
    if (gone) {
      expectSameError(failureOf(outcome), ownError(10));
    } else {
      EXPECT_TRUE(std::holds_alternative<events::EventRecord>(outcome));
    }
  }
  fs::remove_all(folder);
}

using RecordingCompletionRace = SessionFixture;

TEST_F(RecordingCompletionRace, FinishAfterTheTimeoutResumedButBeforeTheFlagIsReadCounts) {
  makeSession(false);
  startOrFail();
  // The main thread is kept busy past the time-out, so the waiter's continuation is queued
  // behind this item, which reports the finish only after the time-out has resumed the waiter.
  platform.dispatch().mainQueue().post([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    platform.capture.recordingFinishes();
  });
  auto outcome = run(session->waitForRecordingFinish(0.02));
  EXPECT_EQ(std::get<bool>(outcome), true);
}

}  // namespace
}  // namespace capture
