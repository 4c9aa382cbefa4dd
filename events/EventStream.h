#pragma once

#include "events/EventSink.h"

namespace events {

// The process's one sink on standard output. It hands each record to a writer thread, so the
// caller never waits on the reader; a record without a JSON form, or one the reader can no
// longer take, is dropped. Its flush waits as long as a reader holds a full pipe open without
// reading: the exit path calls it so that the last records are not lost.
EventSink& standardOutputEvents();

}  // namespace events
