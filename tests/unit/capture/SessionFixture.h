#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "app/StageOutcome.h"
#include "capture/CaptureSession.h"
#include "platform/Launch.h"
#include "support/RecordedEvents.h"
#include "support/ScriptedPlatform.h"

namespace capture {

template <typename T>
using Outcome = std::variant<app::StageResult<T>, platform::PlatformError>;

// Runs `task` to its end with the calling thread as the main thread, and gives back what it
// yielded or threw.
template <typename T>
Outcome<T> runOnMainQueue(platform::PlatformServices& platform, platform::Task<T> task) {
  platform::MainQueue& mainQueue = platform.dispatch().mainQueue();
  std::optional<Outcome<T>> outcome;
  mainQueue.post([&] {
    platform::launch(app::outcomeOf(std::move(task), platform.screenCapture().errorTypeName()),
                     [&](Outcome<T> result) {
                       outcome.emplace(std::move(result));
                       mainQueue.quit();
                     });
  });
  mainQueue.run();
  return std::move(*outcome);
}

// A session over the scripted platform, with its records captured.
class SessionFixture : public ::testing::Test {
 protected:
  void makeSession(bool captureMicrophone = true, std::optional<std::string> microphoneName = {}) {
    session = CaptureSession::create(platform, sink, "/tmp/recording.mov", captureMicrophone,
                                     std::move(microphoneName));
  }

  template <typename T>
  Outcome<T> run(platform::Task<T> task) {
    return runOnMainQueue(platform, std::move(task));
  }

  void startOrFail() {
    auto outcome = run(session->start());
    ASSERT_FALSE(std::holds_alternative<platform::PlatformError>(outcome));
  }

  // The records `action` printed, warnings included: they go out on the sample queue.
  template <typename Action>
  std::vector<nlohmann::json> printedRecords(Action action) {
    sink.clear();
    action();
    if (!platform.capture.outputs.empty())
      test_support::drain(*platform.capture.outputs.back().queue);
    return sink.records();
  }

  // Made in this order by a successful start.
  test_support::ManualTimer& levelTimer() { return *platform.scriptedDispatch.timers.at(0); }
  test_support::ManualTimer& diskTimer() { return *platform.scriptedDispatch.timers.at(1); }

  test_support::ScriptedPlatform platform;
  test_support::RecordedEvents sink;  // outlives the session
  std::shared_ptr<CaptureSession> session;
};

template <typename Outcome>
platform::PlatformError failureOf(const Outcome& outcome) {
  const auto* error = std::get_if<platform::PlatformError>(&outcome);
  EXPECT_NE(error, nullptr) << "expected a failure";
  return error ? *error : platform::PlatformError("none", "none", 0, "no failure");
}

// An error of the tool's own domain, as the scripted service makes it.
inline platform::PlatformError ownError(std::int64_t code) {
  return test_support::scriptedError(code, "TessaloquinAudioCapture");
}

inline void expectSameError(const platform::PlatformError& actual,
                            const platform::PlatformError& expected) {
  EXPECT_EQ(actual.domain(), expected.domain());
  EXPECT_EQ(actual.code(), expected.code());
  EXPECT_EQ(actual.typeName(), expected.typeName());
}

}  // namespace capture
