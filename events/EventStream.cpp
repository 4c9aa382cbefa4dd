#include "events/EventStream.h"

#include <cstdio>
#include <optional>
#include <string>

#include "events/JsonWriter.h"

namespace events {
namespace {

// Whole line in one write under the stream's own lock, so lines from different threads never
// interleave and the reader sees each one as soon as it is complete.
void writeLine(const std::string& line) {
  flockfile(stdout);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  funlockfile(stdout);
}

}  // namespace

void emitEvent(const EventRecord& record) {
  // Losing a record must never end a run, not even for want of memory.
  try {
    std::optional<std::string> json = serializeJsonObject(record);
    if (!json) return;
    json->push_back('\n');
    writeLine(*json);
  } catch (...) {
  }
}

void emitError(const platform::PlatformError& error, std::string_view stage) {
  EventRecord record("error");
  record.set("code", "capture_failed")
      .set("stage", std::string(stage))
      .set("errorName", error.typeName())
      .set("domain", error.domain())
      .set("errorCode", error.code());
  emitEvent(record);
}

}  // namespace events
