#include <thread>

#include "SessionFixture.h"

namespace capture {
namespace {

using test_support::FinishOnStop;
using test_support::Reply;
using test_support::scriptedError;

class RecordingCompletion : public SessionFixture {
 protected:
  void SetUp() override {
    platform.scriptedDispatch.delayScale = 0.002;  // the 15-second wait becomes 30 ms
    makeSession();
    startOrFail();
  }

  test_support::Outcome<events::EventRecord> stop() { return run(session->stop()); }

  // Makes `event` happen on a service thread once the session waits for the file.
  template <typename Event>
  std::jthread onceWaiting(Event event) {
    return std::jthread([this, event] {
      while (platform.scriptedDispatch.delaysScheduled == 0) std::this_thread::yield();
      event();
    });
  }

  static bool succeeded(const test_support::Outcome<events::EventRecord>& outcome) {
    return std::holds_alternative<events::EventRecord>(outcome);
  }
};

TEST_F(RecordingCompletion, FinishAfterStopCompletesGivesTheFinalRecord) {
  platform.capture.stopReply = Reply::fromAnotherThread;
  EXPECT_TRUE(succeeded(stop()));
}

TEST_F(RecordingCompletion, FinishDuringTheWaitEndsItAtOnce) {
  platform.capture.finishOnStop = FinishOnStop::never;
  platform.scriptedDispatch.delayScale = 1.0;  // a finish that did not end the wait would hang
  auto service = onceWaiting([this] { platform.capture.recordingFinishes(); });
  EXPECT_TRUE(succeeded(stop()));
  EXPECT_EQ(platform.capture.stopCalls, 1);
  EXPECT_EQ(platform.scriptedDispatch.requestedDelays,
            std::vector<std::chrono::nanoseconds>{std::chrono::seconds(15)});
}

TEST_F(RecordingCompletion, FinishBeforeStopCompletesSucceedsWithoutATimeout) {
  platform.capture.finishOnStop = FinishOnStop::beforeStopCompletes;
  EXPECT_TRUE(succeeded(stop()));
  EXPECT_TRUE(platform.scriptedDispatch.requestedDelays.empty());
}

TEST_F(RecordingCompletion, TimeoutGivesUnfinishedFile) {
  platform.capture.finishOnStop = FinishOnStop::never;
  expectToolError(failureOf(stop()), 2);
}

TEST_F(RecordingCompletion, RecordingFailureIsThrown) {
  platform.capture.finishOnStop = FinishOnStop::fail;
  platform.capture.failureOnStop = scriptedError(28, "g-file-error-quark");
  expectSameError(failureOf(stop()), scriptedError(28, "g-file-error-quark"));
}

TEST_F(RecordingCompletion, RecordingFailureDuringTheWaitEndsItAtOnce) {
  platform.capture.finishOnStop = FinishOnStop::never;
  platform.scriptedDispatch.delayScale = 1.0;
  auto service = onceWaiting([this] { platform.capture.recordingFails(scriptedError(28)); });
  expectSameError(failureOf(stop()), scriptedError(28));
}

TEST_F(RecordingCompletion, StopErrorFailsTheStopEvenThoughTheFileFinished) {
  platform.capture.stopError = scriptedError(-3808);
  expectSameError(failureOf(stop()), scriptedError(-3808));
}

TEST_F(RecordingCompletion, StreamFailureWhileRecordingFailsTheStopLater) {
  platform.capture.streamStopsWithError(scriptedError(-3821));
  platform.capture.stopError = scriptedError(-3808);  // never replaces a stored failure
  expectSameError(failureOf(stop()), scriptedError(-3821));
}

TEST_F(RecordingCompletion, LaterFailureCallbackWins) {
  platform.capture.streamStopsWithError(scriptedError(1));
  platform.capture.recordingFails(scriptedError(2));
  expectSameError(failureOf(stop()), scriptedError(2));
}

TEST_F(RecordingCompletion, FinishBeforeStopIsRememberedAndRepeatedFinishesAreHarmless) {
  platform.capture.recordingFinishes();
  platform.capture.recordingFinishes();
  platform.capture.finishOnStop = FinishOnStop::afterStopCompletes;
  EXPECT_TRUE(succeeded(stop()));
  EXPECT_TRUE(platform.scriptedDispatch.requestedDelays.empty());
}

TEST_F(RecordingCompletion, FinishAfterTheTimeoutResumedButBeforeTheFlagIsReadCounts) {
  platform.capture.finishOnStop = FinishOnStop::never;
  platform.scriptedDispatch.delayScale = 1.0;
  // The main thread is kept busy past the time-out, so the waiter's continuation is queued
  // behind this item, which reports the finish only after the time-out has resumed the waiter.
  platform.dispatch().mainQueue().post([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    platform.capture.recordingFinishes();
  });
  auto outcome = run(session->waitForRecordingFinish(0.02));
  EXPECT_EQ(std::get<bool>(outcome), true);
}

TEST_F(RecordingCompletion, CallbacksAfterTheDecisionResumeNothing) {
  EXPECT_TRUE(succeeded(stop()));
  platform.capture.recordingFinishes();
  platform.capture.streamStopsWithError(scriptedError(9));
  // A second stop asks the stream again, finds the file ended, and reports the stored failure.
  expectSameError(failureOf(stop()), scriptedError(9));
  EXPECT_EQ(platform.capture.stopCalls, 2);
}

TEST_F(RecordingCompletion, SecondStopAfterSuccessBuildsTheFinalRecordAgain) {
  EXPECT_TRUE(succeeded(stop()));
  EXPECT_TRUE(succeeded(stop()));
  EXPECT_EQ(platform.capture.stopCalls, 2);
}

TEST_F(RecordingCompletion, TimeoutAfterTheSessionIsGoneDoesNothing) {
  platform.scriptedDispatch.delayScale = 0.01;  // 150 ms
  EXPECT_TRUE(succeeded(stop()));
  const std::weak_ptr<CaptureSession> weakSession = session;
  session.reset();
  EXPECT_TRUE(weakSession.expired());  // the pending time-out must not keep it alive
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

TEST_F(RecordingCompletion, StopCompletionHeldUntilLateStillEndsTheStop) {
  platform.capture.stopReply = Reply::never;
  platform.capture.finishOnStop = FinishOnStop::beforeStopCompletes;
  std::thread lateService([this] {
    while (platform.capture.stopCalls == 0) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    platform.capture.completeStop();
  });
  EXPECT_TRUE(succeeded(stop()));
  lateService.join();
}

}  // namespace
}  // namespace capture
