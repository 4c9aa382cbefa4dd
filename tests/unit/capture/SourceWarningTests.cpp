#include "SessionFixture.h"

namespace capture {
namespace {

using nlohmann::json;
using platform::StreamOutputType;
using test_support::scriptedError;

using SourceWarnings = SessionFixture;

json lost(const std::string& source, std::int64_t code) {
  return {{"event", "warning"},           {"code", "source_lost"}, {"source", source},
          {"errorName", "ScriptedError"}, {"domain", "Server"},    {"errorCode", code}};
}

json restored(const std::string& source, double gapSeconds) {
  return {{"event", "warning"},
          {"code", "source_restored"},
          {"source", source},
          {"gapSeconds", gapSeconds}};
}

// A parent counts losses and recoveries: each loss is told once, each recovery only after one.
TEST_F(SourceWarnings, EachLossIsToldOnceAndEachRecoveryOnlyAfterALoss) {
  makeSession(true);
  startOrFail();
  auto& service = platform.capture;
  const auto records = printedRecords([&] {
    service.sourceIsRestored(StreamOutputType::microphone, 3.0);  // never lost
    service.sourceIsLost(StreamOutputType::microphone, scriptedError(5, "Server"));
    service.sourceIsLost(StreamOutputType::microphone, scriptedError(6, "Server"));
    service.sourceIsLost(StreamOutputType::screen, scriptedError(7, "Server"));
    service.sourceIsRestored(StreamOutputType::microphone, 1.5);
    service.sourceIsRestored(StreamOutputType::microphone, 2.5);
    service.sourceIsLost(StreamOutputType::audio, scriptedError(8, "Server"));
    service.sourceIsLost(StreamOutputType::microphone, scriptedError(9, "Server"));
    service.sourceIsRestored(StreamOutputType::audio, 0.25);
  });
  EXPECT_EQ(records, (std::vector<json>{lost("microphone", 5), restored("microphone", 1.5),
                                        lost("system", 8), lost("microphone", 9),
                                        restored("system", 0.25)}));
}

// A stream that stops takes every captured source with it: the parent hears of each not yet
// lost at once, and the stop still fails with the stream's error.
TEST_F(SourceWarnings, AStoppedStreamLosesEveryCapturedSourceNotLostAlready) {
  const struct {
    const char* what;
    bool microphone;
    bool microphoneLostBefore;
    std::vector<json> expected;
  } cases[] = {
      {"both sources", true, false, {lost("system", -3821), lost("microphone", -3821)}},
      {"microphone lost before", true, true, {lost("microphone", 4), lost("system", -3821)}},
      {"no microphone", false, true, {lost("system", -3821)}},
  };
  for (const auto& [what, microphone, microphoneLostBefore, expected] : cases) {
    SCOPED_TRACE(what);
    makeSession(microphone);
    startOrFail();
    auto& service = platform.capture;
    const auto records = printedRecords([&] {
      if (microphoneLostBefore) {
        service.sourceIsLost(StreamOutputType::microphone, scriptedError(4, "Server"));
      }
      service.streamStopsWithError(scriptedError(-3821, "Server"));
    });
    EXPECT_EQ(records, expected);
    expectSameError(failureOf(run(session->stop())), scriptedError(-3821, "Server"));
  }
}

}  // namespace
}  // namespace capture
