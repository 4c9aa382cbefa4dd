#include "events/EventStream.h"

#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "events/JsonWriter.h"
#include "events/LineWriter.h"

namespace events {
namespace {

// A parent that has taken no record for this long while the tool ends is not reading: one that
// waits for the exit before it reads, or that never reads. The exit goes ahead without the rest,
// where waiting would keep the parent's wait from ever returning; a parent that reads at all
// takes a record in milliseconds.
constexpr std::chrono::seconds kReaderPatience{5};

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
  void flush() override { writer_.drain(kReaderPatience); }

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
