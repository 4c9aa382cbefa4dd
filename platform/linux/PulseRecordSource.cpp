// A sound-server source as a live GStreamer source, read on its streaming thread.
//
// start:   going PAUSED (on GStreamer's thread pool, which the start deadline guards) connects
//          a context of its own and a corked record stream, so the stream's index is known and
//          a source that cannot be recorded fails the start.
// read:    the streaming thread's first read uncorks the stream; every read then runs the
//          PulseAudio loop until the server has handed over a whole read (it comes in pieces,
//          all at once), copies all that has come into one buffer and stamps it
//          (RecordTimeline): its last sample came now.
// stop:    an end of stream or a state change interrupts a read through unlock(), which only
//          wakes the loop; going READY disconnects the stream and the context. A read that has
//          begun to come when the end does is dropped; it has come so far within a millisecond
//          or so, and ends 10 recorded in turn kept as much as with the read finished first.
// loss:    a context or stream the server ends (the server went away, a named input was
//          unplugged) does not end the source: it posts a "lost" element message with a resource
//          error (code 1, "failed") and goes on in time with silence, flagged as a gap so that it
//          is mixed but not metered. Every 100 ms, waiting on the loop between attempts, it tries
//          to record again (the default output's monitor, the named input, or the default input),
//          with a time limit on each attempt; when the server hands over audio again it posts a
//          "restored" message with the time without.
// stall:   a running stream that hands over nothing for seconds has a server or device that
//          hangs: it posts "lost" with a read error, stays connected, and its first audio posts
//          "restored" with the time without; what the server held meanwhile is placed as usual.
// drop:    what the server dropped for a tool that did not read in time (stopped, starved) is
//          read from its timing answers, skipped on the timeline and posted as "dropped" with
//          the block after it.
// unheard: the mixer waits for every source, so a stream that has handed over nothing since
//          the start (a suspended or hung input) would hold up the start; from the stall limit
//          on, until its first audio, it is given silence as a gap every retry interval.
//
// Threads: the PulseAudio loop, context and stream are used by one thread at a time, handed
// over by GStreamer: start() and stop() on the thread changing the state, reads on the
// streaming thread, which GStreamer starts after start() and joins before stop(). The server's
// callbacks run within the loop, on the thread running it. unlock() comes from any thread and
// touches only the flag and the loop's wake-up, which is made for that.
#include "platform/linux/PulseRecordSource.h"

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>

#include "platform/linux/PulseClient.h"
#include "platform/linux/RecordTimeline.h"

namespace platform::linux_gst {

namespace {

// A block that lags the clock by more than this makes the source ask the server whether data
// was lost; by more than the second, it waits for the answer before the block is stamped, so
// that what the server lost while the tool stood still goes before the backlog it held, and
// no block lags by more than the server holds. Below, the lag is scheduling and the server's
// blocks.
constexpr std::int64_t kLagToAskNs = 250 * 1000000LL;
constexpr std::int64_t kLagToWaitNs = 1000 * 1000000LL;
// What the server's writes may lag its clock before it counts as lost: its blocks, and a
// server that is itself starved catches up later. A full buffer loses seconds at once, and
// the mixer waits out a lag below this.
constexpr std::int64_t kLossUs = 1000 * 1000;

using Clock = std::chrono::steady_clock;

// How long a lost source waits between attempts to record again, and how long one attempt may
// take: a server that accepts connections answers within milliseconds.
constexpr auto kRetryInterval = std::chrono::milliseconds(100);
constexpr auto kAttemptLimit = std::chrono::seconds(1);

// A running stream gets a read every 50 ms; this long without a byte, with the tool awake to see
// it, is a hang, even for a server starved on a loaded machine.
constexpr auto kStallLimit = std::chrono::seconds(3);
// A wait that ends this late was the tool's own standing still (stopped, starved): what the
// server sent meanwhile is yet to be read, so the stream gets a new stall limit.
constexpr auto kLateWake = std::chrono::milliseconds(500);

struct SourceState {
  explicit SourceState(RecordSourceSettings settings)
      : settings(std::move(settings)),
        format{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(this->settings.sampleRate),
               static_cast<std::uint8_t>(this->settings.channelCount)},
        timeline(this->settings.sampleRate) {}

  const RecordSourceSettings settings;
  const pa_sample_spec format;
  pa_mainloop* const loop = pa_mainloop_new();
  std::atomic<bool> flushing{false};
  std::atomic<std::uint32_t> index{PA_INVALID_INDEX};
  std::atomic<bool> silenced{false};  // set from the loop thread (silenceRecordSource)

  // The thread that holds the loop (see the top).
  pa_context* context = nullptr;
  pa_stream* stream = nullptr;
  size_t readBytes = 1;  // what the server hands over at a time, once connected
  int reads = 0;         // counted up to the settings' first reads
  bool corked = true;
  RecordTimeline timeline;
  // The server's timing: how far the stream's writes lag its clock, and how far its read index
  // is ahead of what was taken (µs), as first seen since the timeline was last set, and the
  // answers received, so that a read can wait for one.
  std::optional<std::int64_t> writeLagBaseUs;
  std::optional<std::int64_t> readSkipBaseUs;
  std::uint64_t bytesTaken = 0;  // since the stream connected
  unsigned timingAnswers = 0;
  bool timingAsked = false;
  std::int64_t droppedNs = 0;     // what the server lost, told with the block after it
  std::uint64_t placedUntil = 0;  // running time at the end of the last block
  bool lost = false;              // the server ended the recording; silence meanwhile
  bool restoring = false;         // told lost, and the first audio since not yet told
  Clock::time_point dataAt;       // when the stream last handed over audio, or was resumed
  bool heard = false;             // the stream has handed over audio since the start
  Clock::time_point silenceDue;   // before that, when silence is handed over in its stead
  std::uint64_t lostAt = 0;       // running time at the loss
  Clock::time_point nextAttempt;  // to record again, while lost
};

}  // namespace

struct PulseRecordSource {
  GstBaseSrc parent;
  SourceState* state;
};

struct PulseRecordSourceClass {
  GstBaseSrcClass parent_class;
};

G_DEFINE_TYPE(PulseRecordSource, pulse_record_source, GST_TYPE_BASE_SRC)

namespace {

SourceState& stateOf(gpointer source) {
  return *reinterpret_cast<PulseRecordSource*>(source)->state;
}

bool contextUsable(pa_context* context) {
  return context && pa_context_get_state(context) == PA_CONTEXT_READY;
}

bool streamUsable(const SourceState& state) {
  return contextUsable(state.context) && state.stream &&
         pa_stream_get_state(state.stream) == PA_STREAM_READY;
}

const char* serverError(const SourceState& state) {
  if (!state.loop || !state.context) return "the system refused the sound-server library memory";
  return pa_strerror(pa_context_errno(state.context));
}

// One turn of the loop, waiting for something to do until `deadline` at the latest (or until
// woken; past it, only looking); how many descriptors had something, or -1 when the loop failed.
int turnUntil(SourceState& state, Clock::time_point deadline) {
  int timeoutUs = -1;
  if (deadline != Clock::time_point::max()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    timeoutUs = static_cast<int>(std::max<std::int64_t>(left, 0));
  }
  int ready = 0;
  if (pa_mainloop_prepare(state.loop, timeoutUs) < 0 ||
      (ready = pa_mainloop_poll(state.loop)) < 0 || pa_mainloop_dispatch(state.loop) < 0) {
    return -1;
  }
  return ready;
}

// One turn before `deadline`; false once it has passed or the loop failed.
bool iterateUntil(SourceState& state, Clock::time_point deadline) {
  return Clock::now() < deadline && turnUntil(state, deadline) >= 0;
}

// Runs the loop until `ready` holds, `failed` does, the source is interrupted or `deadline`
// passes; true when ready.
template <typename Ready, typename Failed>
bool runUntil(SourceState& state, Ready ready, Failed failed, Clock::time_point deadline) {
  while (!ready()) {
    if (failed() || state.flushing || !iterateUntil(state, deadline)) return false;
  }
  return true;
}

bool connectContext(SourceState& state, Clock::time_point deadline) {
  if (!state.loop) return false;
  state.context = newPulseContext(pa_mainloop_get_api(state.loop));
  if (!state.context || !connectPulseContext(state.context)) return false;
  return runUntil(
      state, [&] { return pa_context_get_state(state.context) == PA_CONTEXT_READY; },
      [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(state.context)); }, deadline);
}

// A source that resumed breaks the stream's time line.
void onSuspendedChanged(pa_stream* stream, void* data) {
  if (pa_stream_is_suspended(stream) != 0) return;
  auto& state = *static_cast<SourceState*>(data);
  state.timeline.breakStream();
  state.dataAt = Clock::now();
}

// How much a measure of loss (µs) has grown since it was first seen, once that is past kLossUs;
// from there it counts afresh. A measure that falls (a device clock faster than the server's)
// is seen afresh from where it fell.
std::int64_t lossSince(std::optional<std::int64_t>& baseUs, std::int64_t measureUs) {
  if (!baseUs || measureUs < *baseUs) {
    baseUs = measureUs;
    return 0;
  }
  const std::int64_t grown = measureUs - *baseUs;
  if (grown <= kLossUs) return 0;
  baseUs = measureUs;
  return grown;
}

// What a full buffer cannot take is dropped without a word to a record stream (the overflow
// callback is for playback). PulseAudio drops it before it enters the stream: the write index
// then falls behind the server's clock. PipeWire hands the stream over past what it dropped:
// libpulse's read index then runs ahead of what was taken. Measured from the first answer after
// the timeline was set; what is lost goes before the next block.
void onTimingAnswer(pa_stream*, int success, void* data) {
  auto& state = *static_cast<SourceState*>(data);
  ++state.timingAnswers;
  state.timingAsked = false;
  const pa_timing_info* timing = success ? pa_stream_get_timing_info(state.stream) : nullptr;
  if (!timing || timing->write_index_corrupt || state.timeline.broken()) {
    state.writeLagBaseUs.reset();
    state.readSkipBaseUs.reset();
    return;
  }
  const auto usec = [&](std::int64_t bytes) {
    return static_cast<std::int64_t>(pa_bytes_to_usec(
        static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0)), &state.format));
  };
  const std::int64_t writeLag = static_cast<std::int64_t>(pa_timeval_load(&timing->timestamp)) -
                                usec(timing->write_index) -
                                static_cast<std::int64_t>(timing->source_usec);
  std::int64_t lostUs = lossSince(state.writeLagBaseUs, writeLag);
  if (!timing->read_index_corrupt) {
    const std::int64_t readSkip =
        usec(timing->read_index) - usec(static_cast<std::int64_t>(state.bytesTaken));
    lostUs += lossSince(state.readSkipBaseUs, readSkip);
  }
  if (lostUs > 0) {
    state.timeline.skip(lostUs * 1000);
    state.droppedNs += lostUs * 1000;
  }
}

void askTiming(SourceState& state) {
  if (state.timingAsked) return;
  state.timingAsked = true;
  release(pa_stream_update_timing_info(state.stream, onTimingAnswer, &state));
}

// A streaming thread held up by a stalled write, or a starved or stopped tool, loses nothing
// while the server holds what comes meanwhile.
pa_buffer_attr bufferFor(const SourceState& state, std::uint64_t readNs) {
  pa_buffer_attr attributes{};
  attributes.maxlength =
      static_cast<std::uint32_t>(pa_usec_to_bytes(state.settings.heldNs / 1000, &state.format));
  attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(readNs / 1000, &state.format));
  return attributes;
}

void takeReadSize(SourceState& state) {
  state.readBytes = std::max<size_t>(1, pa_stream_get_buffer_attr(state.stream)->fragsize);
}

void onBufferChanged(pa_stream*, int success, void* data) {
  if (success) takeReadSize(*static_cast<SourceState*>(data));
}

// Once the first, short reads are done, asks for the longer ones that cost less.
void countRead(SourceState& state) {
  if (state.reads >= state.settings.firstReads || ++state.reads < state.settings.firstReads) return;
  const pa_buffer_attr attributes = bufferFor(state, state.settings.readNs);
  release(pa_stream_set_buffer_attr(state.stream, &attributes, onBufferChanged, &state));
}

bool connectStream(SourceState& state, const char* name, const std::optional<std::string>& source,
                   Clock::time_point deadline) {
  state.stream = pa_stream_new(state.context, name, &state.format, nullptr);
  if (!state.stream) return false;
  pa_stream_set_suspended_callback(state.stream, onSuspendedChanged, &state);
  const pa_buffer_attr attributes = bufferFor(
      state, state.settings.firstReads > 0 ? state.settings.firstReadNs : state.settings.readNs);
  // Unmuted whatever mute the server keeps for the tool's streams from an earlier recording.
  auto flags = PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_UNMUTED;
  if (state.settings.keepOnDevice) flags |= PA_STREAM_DONT_MOVE;
  if (pa_stream_connect_record(state.stream, source ? source->c_str() : nullptr, &attributes,
                               static_cast<pa_stream_flags_t>(flags)) < 0) {
    return false;
  }
  return runUntil(
      state, [&] { return pa_stream_get_state(state.stream) == PA_STREAM_READY; },
      [&] {
        return !contextUsable(state.context) ||
               !PA_STREAM_IS_GOOD(pa_stream_get_state(state.stream));
      },
      deadline);
}

void dropStream(SourceState& state) {
  if (state.stream) {
    pa_stream_disconnect(state.stream);
    pa_stream_unref(state.stream);
    state.stream = nullptr;
  }
  state.index = PA_INVALID_INDEX;
  state.reads = 0;
  state.corked = true;
  state.timeline.breakStream();
  state.writeLagBaseUs.reset();
  state.readSkipBaseUs.reset();
  state.bytesTaken = 0;
  state.timingAsked = false;
  state.droppedNs = 0;
}

void dropContext(SourceState& state) {
  if (!state.context) return;
  pa_context_disconnect(state.context);
  pa_context_unref(state.context);
  state.context = nullptr;
}

void disconnect(SourceState& state) {
  dropStream(state);
  dropContext(state);
}

void takeStream(SourceState& state) {
  state.index = pa_stream_get_index(state.stream);
  takeReadSize(state);
  // Before the uncork, so that no audio comes at a volume kept from an earlier recording.
  recordAtSourceVolume(state.context, state.index, state.format.channels);
}

gboolean onStart(GstBaseSrc* base) {
  SourceState& state = stateOf(base);
  state.lost = state.restoring = state.heard = false;
  state.placedUntil = 0;
  const auto noLimit = Clock::time_point::max();  // the start's deadline guards it
  if (!connectContext(state, noLimit) ||
      !connectStream(state, GST_OBJECT_NAME(base), state.settings.device, noLimit)) {
    const char* device = state.settings.device ? state.settings.device->c_str() : "the default";
    GST_ELEMENT_ERROR(base, RESOURCE, FAILED,
                      ("Cannot record %s source: %s", device, serverError(state)), (nullptr));
    disconnect(state);
    return FALSE;
  }
  takeStream(state);
  return TRUE;
}

gboolean onStop(GstBaseSrc* base) {
  disconnect(stateOf(base));
  return TRUE;
}

gboolean onUnlock(GstBaseSrc* base) {
  SourceState& state = stateOf(base);
  state.flushing = true;
  if (state.loop) pa_mainloop_wakeup(state.loop);
  return TRUE;
}

gboolean onUnlockStop(GstBaseSrc* base) {
  stateOf(base).flushing = false;
  return TRUE;
}

GstClockTime runningTime(GstElement* element) {
  GstClock* clock = gst_element_get_clock(element);
  if (!clock) return 0;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(element);
  return now > base ? now - base : 0;
}

// Copies what the server has handed over, `readable` bytes in one or more chunks, into one
// buffer; silence instead while the source is silenced. Returns the bytes taken.
size_t takeReadable(SourceState& state, size_t readable, GstBuffer* buffer) {
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  const bool silenced = state.silenced;
  size_t filled = 0;
  while (filled < readable) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(state.stream, &data, &bytes) < 0 || bytes == 0 ||
        bytes > readable - filled) {
      break;
    }
    if (data && !silenced) {
      std::memcpy(map.data + filled, data, bytes);
    } else {
      std::memset(map.data + filled, 0, bytes);  // a hole the server left: silence
    }
    pa_stream_drop(state.stream);
    state.bytesTaken += bytes;
    filled += bytes;
  }
  gst_buffer_unmap(buffer, &map);
  return filled;
}

// Stamps a block of `frames` whose last sample came at `capturedEnd`.
void stamp(SourceState& state, GstBuffer* buffer, std::uint64_t frames, GstClockTime capturedEnd) {
  const RecordTimeline::Stamp stamp =
      state.timeline.place(frames, static_cast<std::int64_t>(capturedEnd));
  GST_BUFFER_PTS(buffer) = stamp.start;
  GST_BUFFER_DURATION(buffer) = stamp.duration;
  if (stamp.discontinuous) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
  state.placedUntil = stamp.start + stamp.duration;
}

void post(GstBaseSrc* base, GstStructure* message) {
  gst_element_post_message(GST_ELEMENT(base), gst_message_new_element(GST_OBJECT(base), message));
}

void postLost(GstBaseSrc* base, GError* error) {
  post(base, gst_structure_new(kSourceLostMessage, "error", G_TYPE_ERROR, error, nullptr));
  g_error_free(error);
}

// The server ended the recording: told on the bus, and silence from here until it is back.
void loseServer(GstBaseSrc* base, SourceState& state) {
  GError* error = g_error_new(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_FAILED,
                              "The sound server ended the recording: %s", serverError(state));
  dropStream(state);
  if (!contextUsable(state.context)) dropContext(state);
  state.lost = true;
  state.restoring = false;
  state.lostAt = runningTime(GST_ELEMENT(base));
  state.nextAttempt = Clock::now() + kRetryInterval;
  postLost(base, error);
}

// The stream handed over nothing for the stall limit: told lost until its audio comes again,
// with the time without counted from its last audio.
void loseToStall(GstBaseSrc* base, SourceState& state) {
  const auto without =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - state.dataAt);
  const GstClockTime now = runningTime(GST_ELEMENT(base));
  state.restoring = true;
  state.lostAt = now > static_cast<GstClockTime>(without.count()) ? now - without.count() : 0;
  postLost(base, g_error_new(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                             "The sound server handed over no audio for %lld ms",
                             static_cast<long long>(without.count() / 1000000)));
}

enum class Turn { failed, woken, stalled };

// One turn of the loop while a read is awaited. A watched stream (running, and not told lost
// already) has stalled when a wait that ends on time at the stall limit brought nothing; one
// that ends far past it restarts the limit.
Turn turnLoop(SourceState& state, bool watched) {
  const auto deadline = watched ? state.dataAt + kStallLimit : Clock::time_point::max();
  const int ready = turnUntil(state, state.heard ? deadline : std::min(deadline, state.silenceDue));
  if (ready < 0) return Turn::failed;
  if (!watched) return Turn::woken;
  const auto now = Clock::now();
  if (now > deadline + kLateWake) {
    state.dataAt = now;
    return Turn::woken;
  }
  return ready == 0 && now >= deadline ? Turn::stalled : Turn::woken;
}

// One attempt to record again, on the server as it is now; true when recording.
bool recordAgain(GstBaseSrc* base, SourceState& state) {
  const auto deadline = Clock::now() + kAttemptLimit;
  if (!contextUsable(state.context)) {
    dropContext(state);
    if (!connectContext(state, deadline)) {
      dropContext(state);
      return false;
    }
  }
  if (!connectStream(state, GST_OBJECT_NAME(base), state.settings.deviceAfterLoss, deadline)) {
    dropStream(state);
    return false;
  }
  takeStream(state);
  return true;
}

// Silence from the end of the last block until now, as a gap: mixed, never metered.
GstBuffer* silenceUntilNow(GstBaseSrc* base, SourceState& state) {
  const GstClockTime now = runningTime(GST_ELEMENT(base));
  if (now <= state.placedUntil) return nullptr;
  const auto frames = gst_util_uint64_scale(
      now - state.placedUntil, static_cast<guint64>(state.settings.sampleRate), GST_SECOND);
  if (frames == 0) return nullptr;
  const size_t bytes = frames * pa_frame_size(&state.format);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  gst_buffer_memset(buffer, 0, 0, bytes);
  GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_GAP);
  stamp(state, buffer, frames, now);
  return buffer;
}

// While lost: waits for the next attempt, tries, and hands over the silence meanwhile.
GstFlowReturn createWhileLost(GstBaseSrc* base, SourceState& state, GstBuffer** out) {
  for (;;) {
    while (!state.flushing && iterateUntil(state, state.nextAttempt)) {
    }
    if (state.flushing) return GST_FLOW_FLUSHING;
    state.nextAttempt = Clock::now() + kRetryInterval;
    if (recordAgain(base, state)) {
      state.lost = false;
      state.restoring = true;
    }
    *out = silenceUntilNow(base, state);
    if (*out || !state.lost) return GST_FLOW_OK;
  }
}

enum class Awaited { read, silence, serverEnded };

// The timing answers a read must wait for before it is stamped: when the block lags far, an
// answer to a question asked from now on; one already on its way may tell of the time before
// the tool stood still.
unsigned answersWanted(GstBaseSrc* base, SourceState& state) {
  const std::int64_t lag =
      state.timeline.lagAt(static_cast<std::int64_t>(runningTime(GST_ELEMENT(base))));
  const unsigned wanted =
      lag > kLagToWaitNs ? state.timingAnswers + (state.timingAsked ? 2 : 1) : 0;
  if (lag > kLagToAskNs) askTiming(state);
  return wanted;
}

// Waits for a whole read from the server, or, before the stream's first audio, until silence is
// due in its stead.
Awaited awaitRead(GstBaseSrc* base, SourceState& state, size_t& readable) {
  // The first answer on a stream is the measure later ones are taken against: asked at once.
  if (!state.writeLagBaseUs && !state.timeline.broken()) askTiming(state);
  // The lag is judged once the read is there: the tool may have stood still while it waited.
  std::optional<unsigned> wanted;
  size_t seen = 0;
  for (;;) {
    if (state.flushing) return Awaited::read;
    if (!streamUsable(state) ||
        (readable = pa_stream_readable_size(state.stream)) == static_cast<size_t>(-1)) {
      return Awaited::serverEnded;
    }
    if (readable > seen) {
      seen = readable;
      state.dataAt = Clock::now();
    }
    if (readable == 0 && !state.heard && Clock::now() >= state.silenceDue) return Awaited::silence;
    if (readable >= state.readBytes) {
      if (!wanted) wanted = answersWanted(base, state);
      if (state.timingAnswers >= *wanted) return Awaited::read;
      askTiming(state);
    }
    switch (turnLoop(state, !state.restoring && pa_stream_is_suspended(state.stream) == 0)) {
      case Turn::failed:
        return Awaited::serverEnded;
      case Turn::stalled:
        loseToStall(base, state);
        break;
      case Turn::woken:
        break;
    }
  }
}

GstFlowReturn onCreate(GstBaseSrc* base, guint64, guint, GstBuffer** out) {
  SourceState& state = stateOf(base);
  *out = nullptr;
  size_t readable = 0;
  for (;;) {
    if (state.lost) {
      const GstFlowReturn result = createWhileLost(base, state, out);
      if (result != GST_FLOW_OK || *out) return result;
    }
    if (state.corked) {
      release(pa_stream_cork(state.stream, 0, nullptr, nullptr));
      state.corked = false;
      state.dataAt = Clock::now();
      state.silenceDue = state.dataAt + kStallLimit;
    }
    // A read arrives in several chunks: waiting for all of it makes one buffer of it.
    const Awaited awaited = awaitRead(base, state, readable);
    if (awaited == Awaited::read) break;
    if (awaited == Awaited::serverEnded) {
      loseServer(base, state);
      continue;
    }
    state.silenceDue = Clock::now() + kRetryInterval;
    if ((*out = silenceUntilNow(base, state))) return GST_FLOW_OK;
  }
  if (state.flushing) return GST_FLOW_FLUSHING;
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, readable, nullptr);
  const size_t bytes = takeReadable(state, readable, buffer);
  gst_buffer_set_size(buffer, static_cast<gssize>(bytes));
  // The first audio after silence in its stead is placed by the clock, not after the silence.
  if (!state.heard && bytes > 0) {
    state.timeline.breakStream();
    state.heard = true;
  }
  const GstClockTime now = runningTime(GST_ELEMENT(base));
  stamp(state, buffer, bytes / pa_frame_size(&state.format), now);
  countRead(state);
  // Before a recovery, whose gap covers a drop while the source was told lost.
  if (state.droppedNs > 0) {
    post(base, gst_structure_new(kSourceDroppedMessage, "dropped-seconds", G_TYPE_DOUBLE,
                                 static_cast<double>(state.droppedNs) / GST_SECOND, nullptr));
    state.droppedNs = 0;
  }
  if (state.restoring) {
    state.restoring = false;
    post(base, gst_structure_new(kSourceRestoredMessage, "gap-seconds", G_TYPE_DOUBLE,
                                 static_cast<double>(now - state.lostAt) / GST_SECOND, nullptr));
  }
  *out = buffer;
  return GST_FLOW_OK;
}

GstCaps* onGetCaps(GstBaseSrc* base, GstCaps* filter) {
  const RecordSourceSettings& settings = stateOf(base).settings;
  GstCaps* caps =
      gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "rate", G_TYPE_INT,
                          settings.sampleRate, "channels", G_TYPE_INT, settings.channelCount,
                          "layout", G_TYPE_STRING, "interleaved", nullptr);
  if (!filter) return caps;
  GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
  gst_caps_unref(caps);
  return both;
}

// A block comes a read after its first sample at the earliest; the server holds up to seconds.
gboolean onQuery(GstBaseSrc* base, GstQuery* query) {
  if (GST_QUERY_TYPE(query) != GST_QUERY_LATENCY) {
    return GST_BASE_SRC_CLASS(pulse_record_source_parent_class)->query(base, query);
  }
  gst_query_set_latency(query, TRUE, stateOf(base).settings.readNs, GST_CLOCK_TIME_NONE);
  return TRUE;
}

void onFinalize(GObject* object) {
  SourceState* state = reinterpret_cast<PulseRecordSource*>(object)->state;
  disconnect(*state);
  if (state->loop) pa_mainloop_free(state->loop);
  delete state;
  G_OBJECT_CLASS(pulse_record_source_parent_class)->finalize(object);
}

}  // namespace

static void pulse_record_source_class_init(PulseRecordSourceClass* klass) {
  static GstStaticPadTemplate source =
      GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                              GST_STATIC_CAPS("audio/x-raw, format=F32LE, layout=interleaved"));
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &source);
  gst_element_class_set_static_metadata(element, "Sound server record source", "Source/Audio",
                                        "Records a sound-server source on one thread",
                                        kPulseClientName);
  G_OBJECT_CLASS(klass)->finalize = onFinalize;
  GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
  base->start = onStart;
  base->stop = onStop;
  base->unlock = onUnlock;
  base->unlock_stop = onUnlockStop;
  base->create = onCreate;
  base->get_caps = onGetCaps;
  base->query = onQuery;
}

static void pulse_record_source_init(PulseRecordSource* source) {
  source->state = nullptr;
  gst_base_src_set_live(GST_BASE_SRC(source), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(source), GST_FORMAT_TIME);
}

GstElement* makePulseRecordSource(const std::string& name, RecordSourceSettings settings) {
  auto* source = static_cast<PulseRecordSource*>(
      g_object_new(pulse_record_source_get_type(), "name", name.c_str(), nullptr));
  source->state = new SourceState(std::move(settings));
  return GST_ELEMENT(source);
}

std::optional<std::uint32_t> recordStreamIndex(GstElement* source) {
  const std::uint32_t index = stateOf(source).index;
  if (index == PA_INVALID_INDEX) return std::nullopt;
  return index;
}

void silenceRecordSource(GstElement* source, bool silenced) {
  stateOf(source).silenced = silenced;
}

}  // namespace platform::linux_gst
