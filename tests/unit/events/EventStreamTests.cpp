#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
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

// The parent reads standard output through a pipe, for which stdio buffers whole blocks; so do
// these tests, whatever they run from. Set before any output, as the C library requires.
const bool blockBuffered = std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ) == 0;

// The capture ends before the caller asserts, so failure messages still reach the terminal.
template <typename Action>
std::string capturedText(Action action) {
  StdoutCapture capture;
  action();
  return capture.text();
}

// Reads what reaches a pipe on standard output, as the parent would, for at most five seconds or
// until a whole line has come; the test itself never flushes. Records without a JSON form leave
// nothing at all.
TEST(EmitEvent, EachLineReachesAReaderOfStandardOutputWithoutAFlush) {
  ASSERT_TRUE(blockBuffered);
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const int savedStdout = ::dup(STDOUT_FILENO);
  ::dup2(pipeEnds[1], STDOUT_FILENO);
  emitEvent(EventRecord("level").set("systemRms", std::numeric_limits<double>::quiet_NaN()));
  emitEvent(EventRecord("warning").set("code", "bad \xC0\xAF text"));
  emitEvent(EventRecord("ready"));
  std::string received;
  pollfd reader{pipeEnds[0], POLLIN, 0};
  while (!received.ends_with('\n') && ::poll(&reader, 1, 5000) == 1) {
    char buffer[256];
    const ssize_t count = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (count <= 0) break;
    received.append(buffer, static_cast<std::size_t>(count));
  }
  ::dup2(savedStdout, STDOUT_FILENO);
  for (const int fd : {savedStdout, pipeEnds[0], pipeEnds[1]}) ::close(fd);
  EXPECT_EQ(received, "{\"event\":\"ready\"}\n");
}

TEST(EmitError, WritesTheStageAndThePlatformFieldsButNotTheDescription) {
  const platform::PlatformError error("NSError", "com.example.Dom\xC3\xA4ne", -3801,
                                      "The user declined TCCs for application.");
  const std::string text = capturedText([&] { emitError(error, "probe"); });
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
          emitEvent(EventRecord("level")
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
