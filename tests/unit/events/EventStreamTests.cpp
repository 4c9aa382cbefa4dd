#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "events/EventStream.h"
#include "support/StdoutCapture.h"

namespace events {
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

// The parent sees nothing of a record without a JSON form, not even an empty line, nor half of
// one whose list holds the value.
TEST(EmitEvent, RecordsWithNonFiniteNumbersOrInvalidUtf8LeaveNothing) {
  // clang-format off
  const char* const invalidUtf8[] = {
      "\x80", "\xBF",                                          // lone continuation bytes
      "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF",  // overlong: '/', U+007F, '/', U+07FF
      "\xF0\x80\x80\xAF", "\xF0\x8F\xBF\xBF",                  // overlong: '/', U+FFFF
      "\xED\xA0\x80", "\xED\xBF\xBF",                          // surrogates U+D800, U+DFFF
      "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFE", "\xFF",  // past U+10FFFF; never lead bytes
      "\xC3", "\xE2\x82", "\xF0\x9F\x98",                      // cut short at the end
      "\xC3(", "\xE2\x28\xA1", "\xF0\x9F\x98\x28"};            // a bad second or last byte
  // clang-format on
  EXPECT_EQ(capturedText([&] {
              for (const double value : {std::numeric_limits<double>::quiet_NaN(),
                                         std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity()}) {
                standardOutputEvents().emit(EventRecord("level").set("systemRms", value));
                const EventList devices = {{{"name", std::string("ok")}}, {{"gain", value}}};
                standardOutputEvents().emit(EventRecord("microphones").set("devices", devices));
              }
              for (const std::string invalid : invalidUtf8) {
                standardOutputEvents().emit(EventRecord("warning").set("code", invalid));
                standardOutputEvents().emit(
                    EventRecord("warning").set("code", "ok").set("k" + invalid, true));
                const EventList devices = {{{"name", std::string("ok")}}, {{"name", invalid}}};
                standardOutputEvents().emit(EventRecord("microphones").set("devices", devices));
              }
            }),
            "");
}

TEST(EmitError, WritesTheStageAndThePlatformFieldsButNotTheDescription) {
  const platform::PlatformError error("NSError", "com.example.Dom\xC3\xA4ne", -3801,
                                      "The user declined TCCs for application.");
  const std::string text = capturedText([&] { emitError(standardOutputEvents(), error, "probe"); });
  ASSERT_TRUE(text.ends_with('\n')) << text;
  EXPECT_EQ(text.find(error.what()), std::string::npos);
  const json object = json::parse(text);
  EXPECT_EQ(object, (json{{"event", "error"},
                          {"code", "capture_failed"},
                          {"stage", "probe"},
                          {"errorName", "NSError"},
                          {"domain", "com.example.Dom\xC3\xA4ne"},
                          {"errorCode", -3801}}));
  EXPECT_TRUE(object.at("errorCode").is_number_integer());
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
    for (std::int64_t writer = 0; writer < threadCount; ++writer) {
      writers.emplace_back([&, writer] {
        for (std::int64_t sequence = 0; sequence < recordsPerThread; ++sequence) {
          standardOutputEvents().emit(EventRecord("level")
                                          .set("writer", writer)
                                          .set("sequence", sequence)
                                          .set("padding", padding));
        }
      });
    }
    for (std::thread& thread : writers) thread.join();
    lines = capture.lines();
  }

  // With every writer's sequence whole and in order, the count shows that no line is missing.
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(threadCount * recordsPerThread));
  std::map<std::int64_t, std::int64_t> nextSequence;
  for (const std::string& line : lines) {
    const json object = json::parse(line);
    ASSERT_EQ(object.at("padding"), padding);
    const auto writer = object.at("writer").get<std::int64_t>();
    EXPECT_EQ(object.at("sequence").get<std::int64_t>(), nextSequence[writer]++);
  }
}

}  // namespace
}  // namespace events
