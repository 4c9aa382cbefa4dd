#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/EventStream.h"
#include "support/StdoutCapture.h"

namespace app {
namespace {

using nlohmann::json;
using test_support::StdoutCapture;

// The capture ends before the caller asserts, so failure messages still reach the terminal.
template <typename Action>
std::string capturedText(Action action) {
  StdoutCapture capture;
  action();
  return capture.text();
}

TEST(EmitEvent, WritesTheRecordAsOneTerminatedLine) {
  EventRecord record("ready");
  const std::string text = capturedText([&] { emitEvent(record); });
  EXPECT_EQ(text, "{\"event\":\"ready\"}\n");
}

TEST(EmitEvent, SuccessiveRecordsGiveSuccessiveLines) {
  StdoutCapture capture;
  emitEvent(EventRecord("ready"));
  emitEvent(EventRecord("error").set("code", "missing_output"));
  const std::vector<std::string> lines = capture.lines();
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0], R"({"event":"ready"})");
  EXPECT_EQ(lines[1], R"({"event":"error","code":"missing_output"})");
}

TEST(EmitEvent, UnserialisableRecordsWriteNothingAtAll) {
  const std::string text = capturedText([] {
    emitEvent(EventRecord("level").set("systemRms", std::numeric_limits<double>::quiet_NaN()));
    emitEvent(EventRecord("warning").set("code", "bad \xC0\xAF text"));
    emitEvent(EventRecord("warning").set("\xED\xA0\x80", "key is a surrogate"));
  });
  EXPECT_EQ(text.size(), 0U) << text;
}

TEST(EmitError, WritesExactlySixKeysWithThePlatformFields) {
  const platform::PlatformError error("NSError", "com.example.Dom\xC3\xA4ne", -3801,
                                      "The user declined TCCs for application.");
  const std::string text = capturedText([&] { emitError(error, "probe"); });

  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const json object = json::parse(text);
  EXPECT_EQ(object.size(), 6U);
  EXPECT_EQ(object.at("event"), "error");
  EXPECT_EQ(object.at("code"), "capture_failed");
  EXPECT_EQ(object.at("stage"), "probe");
  EXPECT_EQ(object.at("errorName"), "NSError");
  EXPECT_EQ(object.at("domain"), "com.example.Dom\xC3\xA4ne");
  EXPECT_TRUE(object.at("errorCode").is_number_integer());
  EXPECT_EQ(object.at("errorCode").get<std::int64_t>(), -3801);
  EXPECT_EQ(text.find("declined"), std::string::npos);
}

TEST(EmitError, KeepsTheStageAndTheToolsOwnCodes) {
  const platform::PlatformError error("GError", "TessaloquinAudioCapture", 2,
                                      "The recording file was not finished.");
  const json object = json::parse(capturedText([&] { emitError(error, "stop"); }));
  EXPECT_EQ(object.at("stage"), "stop");
  EXPECT_EQ(object.at("code"), "capture_failed");
  EXPECT_EQ(object.at("errorName"), "GError");
  EXPECT_EQ(object.at("domain"), "TessaloquinAudioCapture");
  EXPECT_EQ(object.at("errorCode").get<std::int64_t>(), 2);
}

TEST(EmitEvent, LinesFromManyThreadsNeverInterleave) {
  constexpr int threadCount = 8;
  constexpr int recordsPerThread = 200;
  // Long lines make a torn write likely if the lock were missing.
  const std::string padding(2000, 'x');
  std::vector<std::string> lines;
  {
    StdoutCapture capture;
    std::vector<std::thread> writers;
    for (int writer = 0; writer < threadCount; ++writer) {
      writers.emplace_back([&, writer] {
        for (int sequence = 0; sequence < recordsPerThread; ++sequence) {
          emitEvent(EventRecord("level")
                        .set("writer", std::int64_t{writer})
                        .set("sequence", std::int64_t{sequence})
                        .set("padding", padding));
        }
      });
    }
    for (std::thread& thread : writers) thread.join();
    lines = capture.lines();
  }

  ASSERT_EQ(lines.size(), static_cast<std::size_t>(threadCount * recordsPerThread));
  std::map<std::int64_t, std::int64_t> nextSequence;
  for (const std::string& line : lines) {
    const json object = json::parse(line);
    ASSERT_EQ(object.at("padding"), padding);
    const auto writer = object.at("writer").get<std::int64_t>();
    EXPECT_EQ(object.at("sequence").get<std::int64_t>(), nextSequence[writer]++);
  }
  EXPECT_EQ(nextSequence.size(), static_cast<std::size_t>(threadCount));
  for (const auto& [writer, count] : nextSequence) EXPECT_EQ(count, recordsPerThread) << writer;
}

}  // namespace
}  // namespace app
