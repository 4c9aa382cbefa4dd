// Following the user's devices while recording.
//
// create:  the capture makes the follower on the loop thread once its pipeline is PLAYING; it
//          connects a context of its own through PulseAudio's GLib adapter on the loop context.
// start:   when the context is ready it subscribes to server, source-output, sink, source
//          and sink-input events, checks both streams once (the default output may have changed
//          since the content query) and has the playback survey read where sound plays.
// events:  a server event (default output changed) or a move of the system stream re-checks the
//          system stream: server info, then the default output's monitor, then the stream, which
//          is moved when it is elsewhere. A change of the microphone's stream re-checks whether
//          its source is a monitor and says so when that changes. Either stream found muted is
//          unmuted, and one found at another volume than the source's is put back to it. Every
//          event asks the survey to read again (PlaybackSurvey.h).
// finish:  destruction clears the callbacks, disconnects (cancelling pending requests, whose
//          callbacks then never run) and frees the adapter.
//
// Threads: every callback runs on the loop thread; the state is touched there only, so there
// is no lock. Requests are fire and forget: a refused move, unmute or volume leaves the stream as
// it is.
#include "platform/linux/DeviceFollower.h"

#include <pulse/context.h>
#include <pulse/glib-mainloop.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/volume.h>

#include "platform/linux/PulseClient.h"

namespace platform::linux_gst {

// Loop thread only.
struct DeviceFollower::State {
  State(RecordStreams streams, std::function<void(bool)> microphoneOnMonitor,
        PlaybackSurvey::Tell routingFindings)
      : streams(streams),
        tellMicrophoneOnMonitor(std::move(microphoneOnMonitor)),
        survey(streams, std::move(routingFindings)) {}

  RecordStreams streams;                                        // set once at creation
  std::function<void(bool onMonitor)> tellMicrophoneOnMonitor;  // set once at creation
  PlaybackSurvey survey;
  pa_glib_mainloop* pulseLoop = nullptr;
  pa_context* context = nullptr;
  std::uint32_t defaultMonitor = PA_INVALID_INDEX;  // of the default output, as last read
  bool microphoneOnMonitor = false;                 // as last told
};

namespace {

using State = DeviceFollower::State;

// The tool records the source as it is: a mute or a volume on its stream is a leftover the
// server restored from an earlier recording, or a mixer's, and would empty or quieten the
// recording without a word.
void keepAtSourceLevel(pa_context* context, const pa_source_output_info& info) {
  if (info.mute) {
    release(pa_context_set_source_output_mute(context, info.index, 0, nullptr, nullptr));
  }
  if (info.has_volume && info.volume_writable &&
      !pa_cvolume_channels_equal_to(&info.volume, PA_VOLUME_NORM)) {
    recordAtSourceVolume(context, info.index, info.volume.channels);
  }
}

void onSystemStream(pa_context* context, const pa_source_output_info* info, int eol, void* data) {
  auto* state = static_cast<State*>(data);
  if (eol || !info) return;
  keepAtSourceLevel(context, *info);
  if (state->defaultMonitor == PA_INVALID_INDEX) return;
  if (info->source == state->defaultMonitor) return;
  release(pa_context_move_source_output_by_index(context, info->index, state->defaultMonitor,
                                                 nullptr, nullptr));
}

void onDefaultOutput(pa_context* context, const pa_sink_info* info, int eol, void* data) {
  auto* state = static_cast<State*>(data);
  if (eol || !info || info->monitor_source == PA_INVALID_INDEX) return;
  state->defaultMonitor = info->monitor_source;
  release(
      pa_context_get_source_output_info(context, *state->streams.system, onSystemStream, state));
}

void onServerInfo(pa_context* context, const pa_server_info* info, void* data) {
  if (!info || !info->default_sink_name) return;
  release(
      pa_context_get_sink_info_by_name(context, info->default_sink_name, onDefaultOutput, data));
}

void followDefaultOutput(State* state) {
  if (!state->streams.system) return;
  release(pa_context_get_server_info(state->context, onServerInfo, state));
}

void onMicrophoneSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* state = static_cast<State*>(data);
  if (eol || !info) return;
  const bool onMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
  if (onMonitor == state->microphoneOnMonitor) return;
  state->microphoneOnMonitor = onMonitor;
  state->tellMicrophoneOnMonitor(onMonitor);
}

void onMicrophoneStream(pa_context* context, const pa_source_output_info* info, int eol,
                        void* data) {
  if (eol || !info) return;
  keepAtSourceLevel(context, *info);
  release(pa_context_get_source_info_by_index(context, info->source, onMicrophoneSource, data));
}

void keepMicrophoneOffMonitors(State* state) {
  if (!state->streams.microphone) return;
  release(pa_context_get_source_output_info(state->context, *state->streams.microphone,
                                            onMicrophoneStream, state));
}

void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index,
             void* data) {
  auto* state = static_cast<State*>(data);
  const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  // Any change of what plays or records, or of a mute or volume, may move sound out of the
  // recording, or back.
  state->survey.request(context);
  if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) return;
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
    followDefaultOutput(state);
  } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT) {
    if (index == state->streams.system) followDefaultOutput(state);
    if (index == state->streams.microphone) keepMicrophoneOffMonitors(state);
  }
}

void onContextState(pa_context* context, void* data) {
  auto* state = static_cast<State*>(data);
  if (pa_context_get_state(context) != PA_CONTEXT_READY) return;
  pa_context_set_subscribe_callback(context, onEvent, state);
  release(pa_context_subscribe(context,
                               static_cast<pa_subscription_mask_t>(
                                   PA_SUBSCRIPTION_MASK_SERVER |
                                   PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT | PA_SUBSCRIPTION_MASK_SINK |
                                   PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK_INPUT),
                               nullptr, nullptr));
  followDefaultOutput(state);
  keepMicrophoneOffMonitors(state);
  state->survey.request(context);
}

}  // namespace

DeviceFollower::DeviceFollower(GLibLoopThread& loop, RecordStreams streams,
                               std::function<void(bool onMonitor)> microphoneOnMonitor,
                               PlaybackSurvey::Tell routingFindings)
    : state_(new State(streams, std::move(microphoneOnMonitor), std::move(routingFindings))) {
  state_->pulseLoop = pa_glib_mainloop_new(loop.context());
  state_->context = newPulseContext(pa_glib_mainloop_get_api(state_->pulseLoop));
  // Without a context (the system refused libpulse its memory) nothing is followed.
  if (!state_->context) return;
  pa_context_set_state_callback(state_->context, onContextState, state_);
  // A refusal leaves the context failed, which is all following needs to know.
  connectPulseContext(state_->context);
}

DeviceFollower::~DeviceFollower() {
  if (state_->context) {
    pa_context_set_state_callback(state_->context, nullptr, nullptr);
    pa_context_set_subscribe_callback(state_->context, nullptr, nullptr);
    pa_context_disconnect(state_->context);
    pa_context_unref(state_->context);
  }
  pa_glib_mainloop_free(state_->pulseLoop);
  delete state_;
}

}  // namespace platform::linux_gst
