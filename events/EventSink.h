#pragma once

#include <string_view>

#include "events/EventRecord.h"
#include "platform/PlatformError.h"

namespace events {

// Where a run's records go, one line each. Any thread may emit; records keep the order of the
// calls, the caller never waits on the reader, and a record that cannot go out is dropped
// without a trace: the caller carries on either way. The process entry decides which sink a run
// writes to; the tool itself writes only to standard output.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void emit(const EventRecord& record) = 0;
  // Returns once every record emitted before has been written or dropped, or once the reader
  // has taken none for seconds while records wait: a parent that does not read must not keep
  // the process from ending.
  virtual void flush() = 0;
};

// The keys that name an error on every record that carries one: its type name, domain and code,
// but never its description.
EventRecord& setErrorKeys(EventRecord& record, const platform::PlatformError& error);

// The "error" record of a failed stage.
void emitError(EventSink& sink, const platform::PlatformError& error, std::string_view stage);

}  // namespace events
