#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "SessionFixture.h"

namespace capture {
namespace {

using namespace std::chrono_literals;
using test_support::Completion;
using test_support::FinishOnStop;
using enum FinishOnStop;
using test_support::scriptedError;

platform::PlatformError failure(std::int64_t code) {
  return scriptedError(code, "Failure");
}

// How a recording ends, as the service tells it; codes are of failure().
struct Ending {
  FinishOnStop onStop = afterStopCompletes;  // fail: with code 28
  bool finishedBeforeStop = false;
  std::optional<std::int64_t> streamFailedBeforeStop{};
  std::optional<std::int64_t> recordingFailedBeforeStop{};
  std::optional<std::int64_t> stopError{};
  enum { nothing, finish, fail } duringTheWait = nothing;  // fail: with code 28
  bool stopCompletes = true;                               // else only after the stop has ended
};

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
      {"finish before the stop completes", {.onStop = beforeStopCompletes}, {}},
      {"finish before the stop", {.onStop = never, .finishedBeforeStop = true}, {}},
      {"finish during the wait", {.onStop = never, .duringTheWait = Ending::finish}, {}},
      {"started but never finished", {.onStop = never}, ownError(2), false},
      {"recording fails at the stop", {.onStop = fail}, failure(28)},
      {"recording fails during the wait",
       {.onStop = never, .duringTheWait = Ending::fail},
       failure(28)},
      {"stop fails though the file finished", {.stopError = -3808}, failure(-3808)},
      {"stream failed, then the stop",
       {.streamFailedBeforeStop = -3821, .stopError = -3808},
       failure(-3821)},
      {"stream failed, then the recording",
       {.streamFailedBeforeStop = 1, .recordingFailedBeforeStop = 2},
       failure(2)},
      {"stop never completes, the file had finished",
       {.onStop = never, .finishedBeforeStop = true, .stopCompletes = false},
       {}},
      {"stop never completes nor the file",
       {.onStop = never, .stopCompletes = false},
       ownError(2),
       false},
  };
  for (const auto& [what, ending, error, fileEnds] : cases) {
    SCOPED_TRACE(what);
    ScriptedSession scripted;
    auto& service = scripted.platform.capture;
    auto& dispatch = scripted.platform.scriptedDispatch;
    // The wait for the file keeps its whole 15 seconds when something happens during it, so
    // that an event that did not end the wait shows in the time the stop took; else it is cut
    // to 30 ms.
    dispatch.delayScale = ending.duringTheWait ? 1.0 : 0.002;
    scripted.makeSession();
    scripted.startOrFail();
    const int startDelays = dispatch.delaysScheduled;  // the start's own time-outs
    service.finishOnStop = ending.onStop;
    service.failureOnStop = failure(28);
    if (ending.finishedBeforeStop) service.recordingFinishes();
    if (ending.streamFailedBeforeStop)
      service.streamStopsWithError(failure(*ending.streamFailedBeforeStop));
    if (ending.recordingFailedBeforeStop)
      service.recordingFails(failure(*ending.recordingFailedBeforeStop));
    if (ending.stopError) service.stopError = failure(*ending.stopError);
    if (!ending.stopCompletes) service.held = {Completion::stop};
    std::jthread serviceThread([&] {
      if (!ending.duringTheWait) return;
      const auto deadline = std::chrono::steady_clock::now() + 5s;
      while (dispatch.delaysScheduled == startDelays &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
      }
      if (ending.duringTheWait == Ending::finish) service.recordingFinishes();
      if (ending.duringTheWait == Ending::fail) service.recordingFails(failure(28));
    });
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(outcomeIs(scripted.run(scripted.session->stop()), error));
    EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
    EXPECT_EQ(service.outputRemovals, fileEnds ? 1 : 0);
    EXPECT_FALSE(service.outputsRemovedWhileRecording);
    for (auto timeout = dispatch.requestedDelays.begin() + startDelays;
         timeout != dispatch.requestedDelays.end(); ++timeout) {
      EXPECT_EQ(*timeout, 15s);
    }
    if (!ending.stopCompletes) service.complete(Completion::stop);  // too late: dropped
  }
}

// A movie deleted, renamed away or replaced while recording is complete nowhere the parent will
// look: the stop must not say it is.
TEST(RecordingCompletion, AMovieNoLongerAtItsPathFailsTheStop) {
  namespace fs = std::filesystem;
  const struct {
    const char* what;
    std::function<void(const TestFolder&)> meanwhile;
    bool gone;
  } cases[] = {
      {"left alone", [](auto&) {}, false},
      {"deleted", [](auto& folder) { fs::remove(folder / "take.mov"); }, true},
      {"renamed away",
       [](auto& folder) { fs::rename(folder / "take.mov", folder / "elsewhere.mov"); }, true},
      {"replaced by another file",
       [](auto& folder) {
         std::ofstream(folder / "other.mov") << "another";
         fs::rename(folder / "other.mov", folder / "take.mov");
       },
       true},
  };
  for (const auto& [what, meanwhile, gone] : cases) {
    SCOPED_TRACE(what);
    const TestFolder folder;
    std::ofstream(folder / "take.mov") << "movie";  // what the recording output would have begun
    ScriptedSession scripted;
    scripted.platform.scriptedDispatch.delayScale = 0.002;
    scripted.makeSession(false, std::nullopt, {}, folder / "take.mov");
    scripted.startOrFail();
    meanwhile(folder);
    EXPECT_TRUE(outcomeIs(scripted.run(scripted.session->stop()), gone ? ownError(10) : kSuccess));
  }
}

// "final" promises a movie on its storage: one the system could not flush there, or not within
// the wait, fails the stop rather than being lost with the machine or a write error told late.
TEST(RecordingCompletion, TheMovieIsFlushedToItsStorageBeforeTheFinalRecord) {
  using Flush = test_support::ScriptedStorage::Flush;
  const struct {
    const char* what;
    Flush flush;
    std::optional<platform::PlatformError> error;
  } cases[] = {
      {"flushed", Flush::succeeds, {}},
      {"a write error told only now", Flush::fails, ownError(15)},
      {"a storage that hangs", Flush::hangs, ownError(15)},
  };
  for (const auto& [what, flush, error] : cases) {
    SCOPED_TRACE(what);
    ScriptedSession scripted;
    scripted.platform.scriptedDispatch.delayScale = 0.002;
    scripted.platform.disk.setFlush(flush);
    scripted.makeSession(false);
    scripted.startOrFail();
    EXPECT_TRUE(outcomeIs(scripted.run(scripted.session->stop()), error ? *error : kSuccess));
    EXPECT_EQ(scripted.platform.disk.flushed(),
              std::vector<std::filesystem::path>{"/tmp/recording.mov"});
    // The session goes while a flush may still hang, its disk watch with it (the scripted timer
    // would keep the queue): the tool's exit does not wait for the storage.
    scripted.platform.scriptedDispatch.timers.clear();
    scripted.session.reset();
    scripted.platform.disk.release();
  }
}

// The same of a source's own file, which the stop puts on its storage before the movie: one that
// cannot be is told before "final", and a storage that hangs there holds the movie's flush too.
TEST(RecordingCompletion, TheSourcesOwnFilesAreFlushedBeforeTheFinalRecord) {
  using Flush = test_support::ScriptedStorage::Flush;
  const std::filesystem::path source = "/dev/null", movie = "/tmp/recording.mov";
  const nlohmann::json failed = {
      {"event", "warning"}, {"code", "pcm_write_failed"}, {"source", "system"}};
  const struct {
    const char* what;
    Flush flush;
    std::vector<nlohmann::json> told;
    std::vector<std::filesystem::path> flushed;
    std::optional<platform::PlatformError> error;
  } cases[] = {
      {"flushed", Flush::succeeds, {}, {source, movie}, {}},
      {"a write error told only now", Flush::fails, {failed}, {source, movie}, {}},
      {"a storage that hangs", Flush::hangs, {failed}, {source}, ownError(15)},
  };
  for (const auto& [what, flush, told, flushed, error] : cases) {
    SCOPED_TRACE(what);
    ScriptedSession scripted;
    scripted.platform.scriptedDispatch.delayScale = 0.002;
    scripted.platform.disk.setFlush(flush);
    scripted.makeSession(false, std::nullopt, {source, std::nullopt});
    scripted.startOrFail();
    bool outcome = false;
    const auto records = scripted.printedRecords([&] {
      outcome = outcomeIs(scripted.run(scripted.session->stop()), error ? *error : kSuccess);
    });
    EXPECT_TRUE(outcome);
    EXPECT_EQ(records, told);
    EXPECT_EQ(scripted.platform.disk.flushed(), flushed);
    scripted.platform.scriptedDispatch.timers.clear();
    scripted.session.reset();
    scripted.platform.disk.release();
    // The movie's flush, queued behind the hung one, runs now: it leaves the storage before the
    // storage goes.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (flush == Flush::hangs && scripted.platform.disk.flushed().size() < 2 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    scripted.platform.disk.release();
  }
}

// A machine that stops mid-recording keeps the movie up to a few seconds before; a write error
// that only a flush tells is told at once, and to the stop, whose own flush would not hear it.
TEST(RecordingCompletion, WhileRecordingTheMovieIsFlushedEveryFewSeconds) {
  using Flush = test_support::ScriptedStorage::Flush;
  for (const Flush flush : {Flush::succeeds, Flush::fails}) {
    const bool fails = flush == Flush::fails;
    SCOPED_TRACE(fails ? "fails" : "succeeds");
    ScriptedSession scripted;
    scripted.platform.disk.setFlush(flush);
    scripted.makeSession(false);
    scripted.startOrFail();
    const auto records = scripted.printedRecords([&] {
      for (int reading = 0; reading < 7; ++reading) scripted.diskTimer().fire();
    });
    const nlohmann::json failed = {{"event", "warning"},
                                   {"code", "recording_failed"},
                                   {"errorName", "ScriptedError"},
                                   {"domain", "TessaloquinAudioCapture"},
                                   {"errorCode", 15}};
    EXPECT_EQ(records, fails ? std::vector{failed} : std::vector<nlohmann::json>{});
    EXPECT_EQ(scripted.platform.disk.flushed().size(), fails ? 1U : 2U);
    EXPECT_TRUE(outcomeIs(scripted.run(scripted.session->stop()), fails ? ownError(15) : kSuccess));
  }
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
  EXPECT_EQ(std::get<bool>(run(session->waitForRecordingFinish(0.02))), true);
}

}  // namespace
}  // namespace capture
