#include <functional>
#include <thread>

#include "SessionFixture.h"

namespace capture {
namespace {

using namespace std::chrono_literals;
using test_support::Completion;
using test_support::FinishOnStop;
using test_support::scriptedError;
using test_support::ScriptedPlatform;
using Script = std::function<void(ScriptedPlatform&)>;

struct Stopped {
  test_support::Outcome<events::EventRecord> outcome;
  std::chrono::steady_clock::duration took;
  std::vector<std::chrono::nanoseconds> timeouts;
};

// A started session, `before` applied, stopped while `service` runs on a thread of its own. The
// wait for the file keeps its whole 15 seconds when the service acts, so that an event that
// should have ended the wait and did not shows in `took`; else it is cut to 30 ms.
Stopped stopWith(const Script& before, const Script& service = nullptr) {
  ScriptedPlatform platform;
  platform.scriptedDispatch.delayScale = service ? 1.0 : 0.002;
  auto session = CaptureSession::create(platform, "/tmp/recording.mov", true, std::nullopt);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(
      test_support::runOnMainQueue(platform, session->start())));
  before(platform);
  std::jthread serviceThread;
  if (service) serviceThread = std::jthread([&] { service(platform); });
  const auto began = std::chrono::steady_clock::now();
  auto outcome = test_support::runOnMainQueue(platform, session->stop());
  return {std::move(outcome), std::chrono::steady_clock::now() - began,
          platform.scriptedDispatch.requestedDelays};
}

// Once the stop waits for the file, or after five seconds if it never does.
void awaitFinishWait(ScriptedPlatform& platform) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (platform.scriptedDispatch.delaysScheduled == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
}

TEST(RecordingCompletion, FinishOrderings) {
  const struct {
    const char* ordering;
    Script before;
    Script service;
    bool finished;
  } cases[] = {
      {"finish after the stop completes", [](auto&) {}, nullptr, true},
      {"finish before the stop completes",
       [](auto& p) { p.capture.finishOnStop = FinishOnStop::beforeStopCompletes; }, nullptr, true},
      {"finish before the stop",
       [](auto& p) {
         p.capture.recordingFinishes();
         p.capture.finishOnStop = FinishOnStop::never;
       },
       nullptr, true},
      {"finish during the wait", [](auto& p) { p.capture.finishOnStop = FinishOnStop::never; },
       [](auto& p) {
         awaitFinishWait(p);
         p.capture.recordingFinishes();
       },
       true},
      {"stop completion answered late",
       [](auto& p) {
         p.capture.held = {Completion::stop};
         p.capture.finishOnStop = FinishOnStop::beforeStopCompletes;
       },
       [](auto& p) { p.capture.complete(Completion::stop); }, true},
      {"started but never finished", [](auto& p) { p.capture.finishOnStop = FinishOnStop::never; },
       nullptr, false},
  };
  for (const auto& [ordering, before, service, finished] : cases) {
    SCOPED_TRACE(ordering);
    const Stopped stopped = stopWith(before, service);
    if (finished) {
      EXPECT_TRUE(std::holds_alternative<events::EventRecord>(stopped.outcome));
      EXPECT_LT(stopped.took, 5s);
    } else {
      expectSameError(failureOf(stopped.outcome), ownError(2));
      EXPECT_EQ(stopped.timeouts, std::vector<std::chrono::nanoseconds>{15s});
    }
  }
}

TEST(RecordingCompletion, Failures) {
  const auto e = [](std::int64_t code) { return scriptedError(code, "Failure"); };
  const struct {
    const char* failure;
    Script before;
    Script service;
    std::int64_t expectedCode;
  } cases[] = {
      {"recording fails at the stop",
       [&](auto& p) {
         p.capture.finishOnStop = FinishOnStop::fail;
         p.capture.failureOnStop = e(28);
       },
       nullptr, 28},
      {"recording fails during the wait",
       [](auto& p) { p.capture.finishOnStop = FinishOnStop::never; },
       [&](auto& p) {
         awaitFinishWait(p);
         p.capture.recordingFails(e(28));
       },
       28},
      {"stop fails though the file finished", [&](auto& p) { p.capture.stopError = e(-3808); },
       nullptr, -3808},
      {"stream failed while recording, then the stop",
       [&](auto& p) {
         p.capture.streamStopsWithError(e(-3821));
         p.capture.stopError = e(-3808);
       },
       nullptr, -3821},
      {"stream failed, then the recording",
       [&](auto& p) {
         p.capture.streamStopsWithError(e(1));
         p.capture.recordingFails(e(2));
       },
       nullptr, 2},
  };
  for (const auto& [failure, before, service, expectedCode] : cases) {
    SCOPED_TRACE(failure);
    const Stopped stopped = stopWith(before, service);
    expectSameError(failureOf(stopped.outcome), e(expectedCode));
    EXPECT_LT(stopped.took, 5s);
  }
}

using RecordingCompletionRace = SessionFixture;

TEST_F(RecordingCompletionRace, FinishAfterTheTimeoutResumedButBeforeTheFlagIsReadCounts) {
  makeSession();
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
