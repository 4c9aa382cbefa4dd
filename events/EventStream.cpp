#include "events/EventStream.h"

#include <unistd.h>

#include <optional>
#include <string>

#include "events/JsonWriter.h"
#include "events/LineWriter.h"

namespace events {
namespace {

// One writer for the whole process, so that records keep their order. Never destroyed: the
// process ends by _Exit once flushEvents() has returned, and a writer thread blocked on a reader
// that stopped reading must not hold up the exit of an in-process run.
LineWriter& standardOutput() {
  static LineWriter* const writer = new LineWriter(STDOUT_FILENO);
  return *writer;
}

}  // namespace

void emitEvent(const EventRecord& record) {
  // Losing a record must never end a run, not even for want of memory.
  try {
    std::optional<std::string> json = serializeJsonObject(record);
    if (!json) return;
    json->push_back('\n');
    standardOutput().write(std::move(*json));
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

void flushEvents() {
  standardOutput().drain();
}

}  // namespace events
