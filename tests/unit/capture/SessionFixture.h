#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "capture/CaptureSession.h"
#include "support/RunOnMainQueue.h"
#include "support/ScriptedPlatform.h"
#include "support/StdoutCapture.h"

namespace capture {

// A session over the scripted platform, with its records captured.
class SessionFixture : public ::testing::Test {
 protected:
  void makeSession(bool captureMicrophone = true, std::optional<std::string> microphoneName = {}) {
    session = CaptureSession::create(platform, "/tmp/recording.mov", captureMicrophone,
                                     std::move(microphoneName));
  }

  template <typename T>
  test_support::Outcome<T> run(platform::Task<T> task) {
    return test_support::runOnMainQueue(platform, std::move(task));
  }

  void startOrFail() {
    auto outcome = run(session->start());
    ASSERT_FALSE(std::holds_alternative<platform::PlatformError>(outcome));
  }

  // The lines `action` printed. Captured apart from the assertions, whose own messages go to
  // stdout too.
  template <typename Action>
  static std::vector<std::string> printedLines(Action action) {
    test_support::StdoutCapture output;
    action();
    return output.lines();
  }

  test_support::ManualTimer& levelTimer() { return *platform.scriptedDispatch.timers.back(); }

  test_support::ScriptedPlatform platform;
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
