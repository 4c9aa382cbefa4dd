// One visit to the sound server.
//
// create:  the query makes a context and defers the connection to the loop that runs it.
// start:   connection, the four list requests and the time-out all call back on that loop.
// finish:  the completion runs once, from the loop; the owner destroys the query afterwards,
//          which disconnects. No lock: every field is touched on the loop's thread only.
#include "platform/linux/ServerSnapshot.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop-api.h>
#include <pulse/proplist.h>
#include <pulse/timeval.h>

#include <cstdlib>

#include "platform/linux/Errors.h"
#include "platform/linux/PulseClient.h"

namespace platform::linux_gst {

// Owned by the query; touched only on the thread that dispatches the loop.
struct SnapshotQuery::State {
  pa_mainloop_api* api = nullptr;
  pa_context* context = nullptr;
  pa_time_event* timeout = nullptr;
  pa_defer_event* connectLater = nullptr;
  SnapshotCompletion completion;
  ServerSnapshot snapshot;
  int pendingLists = 0;

  void finish(std::optional<PlatformError> error) {
    if (!completion) return;
    auto done = std::move(completion);
    completion = nullptr;
    if (timeout) {
      api->time_free(timeout);
      timeout = nullptr;
    }
    if (error) {
      done(std::nullopt, std::move(error));
    } else {
      done(std::move(snapshot), std::nullopt);
    }
  }

  void listDone() {
    if (--pendingLists == 0) finish(std::nullopt);
  }

  void failFromContext() {
    if (!context) {
      return finish(serviceError(ServiceErrorCode::memoryRefused,
                                 "The system refused the sound-server library memory."));
    }
    int code = pa_context_errno(context);
    finish(serviceError(ServiceErrorCode::serverUnreachable,
                        std::string("The sound server cannot be reached: ") + pa_strerror(code)));
  }
};

namespace {

using State = SnapshotQuery::State;

std::string text(const char* value) {
  return value ? value : "";
}

void onServerInfo(pa_context*, const pa_server_info* info, void* data) {
  auto* state = static_cast<State*>(data);
  if (info) {
    state->snapshot.defaultSinkName = text(info->default_sink_name);
    state->snapshot.defaultSourceName = text(info->default_source_name);
  }
  state->listDone();
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* data) {
  auto* state = static_cast<State*>(data);
  if (eol) return state->listDone();
  std::string monitor =
      info->monitor_source == PA_INVALID_INDEX ? "" : text(info->monitor_source_name);
  state->snapshot.sinks.push_back({text(info->name), monitor});
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto* state = static_cast<State*>(data);
  if (eol) return state->listDone();
  state->snapshot.sources.push_back(
      {text(info->name), text(info->description), info->monitor_of_sink != PA_INVALID_INDEX});
}

void onClient(pa_context*, const pa_client_info* info, int eol, void* data) {
  auto* state = static_cast<State*>(data);
  if (eol) return state->listDone();
  const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
  if (pid) state->snapshot.clientProcessIDs.push_back(std::atoi(pid));
}

void requestAll(State* state) {
  state->pendingLists = 4;
  pa_context* context = state->context;
  // A null operation means the connection broke under us; its list will never end.
  pa_operation* operations[] = {
      pa_context_get_server_info(context, onServerInfo, state),
      pa_context_get_sink_info_list(context, onSink, state),
      pa_context_get_source_info_list(context, onSource, state),
      pa_context_get_client_info_list(context, onClient, state),
  };
  for (pa_operation* operation : operations) {
    if (!operation) return state->failFromContext();
    release(operation);
  }
}

void onContextState(pa_context* context, void* data) {
  auto* state = static_cast<State*>(data);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      requestAll(state);
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      state->failFromContext();
      break;
    default:
      break;
  }
}

void onTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* data) {
  auto* state = static_cast<State*>(data);
  api->time_free(event);
  state->timeout = nullptr;
  state->finish(
      serviceError(ServiceErrorCode::serverTimedOut, "The sound server did not answer in time."));
}

void onConnectLater(pa_mainloop_api* api, pa_defer_event* event, void* data) {
  auto* state = static_cast<State*>(data);
  api->defer_free(event);
  state->connectLater = nullptr;
  if (!state->context) return state->failFromContext();
  pa_context_set_state_callback(state->context, onContextState, state);
  if (!connectPulseContext(state->context)) state->failFromContext();
}

}  // namespace

SnapshotQuery::SnapshotQuery(pa_mainloop_api* api, int timeoutSeconds,
                             SnapshotCompletion completion)
    : state_(new State) {
  state_->api = api;
  state_->completion = std::move(completion);
  state_->context = newPulseContext(api);

  struct timeval deadline;
  pa_timeval_add(pa_gettimeofday(&deadline),
                 static_cast<pa_usec_t>(timeoutSeconds) * PA_USEC_PER_SEC);
  state_->timeout = api->time_new(api, &deadline, onTimeout, state_);

  // Connecting from the loop keeps every callback, a refusal included, out of this constructor.
  state_->connectLater = api->defer_new(api, onConnectLater, state_);
}

SnapshotQuery::~SnapshotQuery() {
  if (state_->timeout) state_->api->time_free(state_->timeout);
  if (state_->connectLater) state_->api->defer_free(state_->connectLater);
  if (state_->context) {
    pa_context_set_state_callback(state_->context, nullptr, nullptr);
    pa_context_disconnect(state_->context);
    pa_context_unref(state_->context);
  }
  delete state_;
}

}  // namespace platform::linux_gst
