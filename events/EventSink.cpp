#include "events/EventSink.h"

#include <string>

namespace events {

EventRecord& setErrorKeys(EventRecord& record, const platform::PlatformError& error) {
  return record.set("errorName", error.typeName())
      .set("domain", error.domain())
      .set("errorCode", error.code());
}

void emitError(EventSink& sink, const platform::PlatformError& error, std::string_view stage) {
  EventRecord record("error");
  record.set("code", "capture_failed").set("stage", std::string(stage));
  sink.emit(setErrorKeys(record, error));
}

}  // namespace events
