#include "events/EventStream.h"

#include <unistd.h>

#include <optional>
#include <string>

#include "events/JsonWriter.h"
#include "events/LineWriter.h"

namespace events {
namespace {

class StandardOutputSink final : public EventSink {
 public:
  void emit(const EventRecord& record) override {
    // Losing a record must never end a run, not even for want of memory.
    try {
      std::optional<std::string> json = serializeJsonObject(record);
      if (!json) return;
      json->push_back('\n');
      writer_.write(std::move(*json));
    } catch (...) {
    }
  }
  void flush() override { writer_.drain(); }

 private:
  LineWriter writer_{STDOUT_FILENO};
};

}  // namespace

// One writer for the whole process, so that records keep their order. Never destroyed: the
// process ends by _Exit once the flush has returned, and a writer thread blocked on a reader that
// stopped reading must not hold up the exit of an in-process run.
EventSink& standardOutputEvents() {
  static EventSink* const sink = new StandardOutputSink;
  return *sink;
}

}  // namespace events
