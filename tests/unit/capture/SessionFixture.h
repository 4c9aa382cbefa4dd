#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

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

// A session over the scripted platform, with its records captured. A test of several cases
// makes one for each.
struct ScriptedSession {
  void makeSession(bool captureMicrophone = true, std::optional<std::string> microphoneName = {},
                   PcmPaths pcmPaths = {}, std::filesystem::path movie = "/tmp/recording.mov") {
    session = CaptureSession::create(platform, sink, std::move(movie), captureMicrophone,
                                     std::move(microphoneName), std::move(pcmPaths));
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

class SessionFixture : public ::testing::Test, public ScriptedSession {};

// An error of the tool's own domain, as the scripted service makes it.
inline platform::PlatformError ownError(std::int64_t code) {
  return test_support::scriptedError(code, "TessaloquinAudioCapture");
}

// What outcomeIs takes for an outcome that is not a failure.
inline const std::optional<platform::PlatformError> kSuccess;

// Whether `outcome` failed with the type, domain and code of `expected`, or did not fail.
template <typename Outcome>
::testing::AssertionResult outcomeIs(const Outcome& outcome,
                                     const std::optional<platform::PlatformError>& expected) {
  const auto identity = [](const platform::PlatformError* error) {
    return error ? error->typeName() + " " + error->domain() + " " + std::to_string(error->code())
                 : std::string("no failure");
  };
  const std::string actual = identity(std::get_if<platform::PlatformError>(&outcome));
  const std::string wanted = identity(expected ? &*expected : nullptr);
  if (actual == wanted) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " where " << wanted << " was expected";
}

// A buffer of these values, stamped `at` seconds, in one piece or cut into pieces of these
// lengths in bytes.
inline test_support::ScriptedSampleBuffer floats(const std::vector<float>& values,
                                                 platform::SampleLayout layout, double at,
                                                 std::vector<std::size_t> pieces = {}) {
  if (pieces.empty()) pieces = {values.size() * sizeof(float)};
  auto buffer = test_support::ScriptedSampleBuffer::ofPieces(
      test_support::ScriptedSampleBuffer::bytesOf(values), pieces);
  buffer.sampleLayout = layout;
  buffer.presentation = at;
  return buffer;
}

// `frames` frames of `value` in every channel, stamped `at` seconds.
inline test_support::ScriptedSampleBuffer constant(float value, std::size_t frames, double at,
                                                   platform::SampleLayout layout = {}) {
  return floats(std::vector<float>(frames * layout.channels, value), layout, at);
}

// A folder of the running test's own, empty at first and removed after it.
class TestFolder {
 public:
  TestFolder() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string(test->name()) + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TestFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Points descriptor 1 at `path`, appending, for its lifetime.
class StandardOutputAt {
 public:
  explicit StandardOutputAt(const std::filesystem::path& path) {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int opened = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ::dup2(opened, STDOUT_FILENO);
    ::close(opened);
  }
  ~StandardOutputAt() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

}  // namespace capture
