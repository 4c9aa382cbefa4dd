// Reading the server's routing: a quarter of a second after a change, the server's name (at the
// first reading only: a survey has one server) and four lists in turn (outputs, monitors, record
// streams, playing streams), each request made from the previous one's last callback, on the loop
// thread; a change during a reading asks for one more.
#include "platform/linux/PlaybackSurvey.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <string_view>

#include "platform/linux/MutedOutput.h"
#include "platform/linux/PulseClient.h"
#include "platform/linux/UnrecordedOutput.h"

namespace platform::linux_gst {

namespace {

// A change moves several streams, one request each (a new default output moves the players and
// the system stream): read once they are all done, not between them.
constexpr pa_usec_t kSettleUs = 250 * PA_USEC_PER_MSEC;

// Whether a list callback ends the list (`eol` > 0, or < 0 on an error) rather than holds an
// entry; on an error the reading ends without a finding.
template <typename Info>
bool endsList(const Info* info, int eol, PlaybackSurvey& survey, void (PlaybackSurvey::*next)()) {
  if (eol < 0 || (!eol && !info)) {
    survey.finish(false);
    return true;
  }
  if (eol > 0) {
    (survey.*next)();
    return true;
  }
  return false;
}

void onServer(pa_context*, const pa_server_info* info, void* data) {
  auto& survey = *static_cast<PlaybackSurvey*>(data);
  if (!info) {
    survey.finish(false);
    return;
  }
  survey.serverRead(info->server_name &&
                    std::string_view(info->server_name).find("PipeWire") != std::string_view::npos);
}

void onSink(pa_context*, const pa_sink_info* info, int eol, void* data) {
  auto& survey = *static_cast<PlaybackSurvey*>(data);
  if (endsList(info, eol, survey, &PlaybackSurvey::readSources)) return;
  survey.routing.sinks.push_back({info->index, info->owner_module, info->monitor_source,
                                  info->description ? info->description : info->name,
                                  info->mute != 0, pa_cvolume_max(&info->volume),
                                  (info->flags & PA_SINK_HW_VOLUME_CTRL) != 0,
                                  (info->flags & PA_SINK_HW_MUTE_CTRL) != 0});
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  auto& survey = *static_cast<PlaybackSurvey*>(data);
  if (endsList(info, eol, survey, &PlaybackSurvey::readSourceOutputs)) return;
  if (info->monitor_of_sink == PA_INVALID_INDEX) return;
  survey.routing.monitors.push_back({info->index,
                                     info->description ? info->description : info->name,
                                     info->mute != 0, pa_cvolume_max(&info->volume)});
}

void onSourceOutput(pa_context*, const pa_source_output_info* info, int eol, void* data) {
  auto& survey = *static_cast<PlaybackSurvey*>(data);
  if (endsList(info, eol, survey, &PlaybackSurvey::readSinkInputs)) return;
  survey.routing.sourceOutputs.push_back(
      {info->index, info->source, info->client, info->owner_module});
}

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* data) {
  auto& survey = *static_cast<PlaybackSurvey*>(data);
  if (endsList(info, eol, survey, &PlaybackSurvey::conclude)) return;
  survey.routing.sinkInputs.push_back(
      {info->sink, info->client, info->owner_module, info->corked != 0});
}

// A request the context refuses ends the reading; the next change asks again.
void issue(PlaybackSurvey& survey, pa_operation* operation) {
  if (operation) {
    release(operation);
  } else {
    survey.finish(false);
  }
}

void onSettled(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
  api->time_free(event);
  static_cast<PlaybackSurvey*>(data)->readServer();
}

}  // namespace

void PlaybackSurvey::request(pa_context* context) {
  context_ = context;
  if (reading_) {
    readAgain_ = true;
    return;
  }
  if (settling_) return;
  settling_ =
      pa_context_rttime_new(context, pa_rtclock_now() + kSettleUs, onSettled, this) != nullptr;
}

void PlaybackSurvey::readServer() {
  settling_ = false;
  reading_ = true;
  routing = {};
  if (pipeWire_) {
    serverRead(*pipeWire_);
  } else {
    issue(*this, pa_context_get_server_info(context_, onServer, this));
  }
}

void PlaybackSurvey::serverRead(bool pipeWire) {
  pipeWire_ = pipeWire;
  routing.pipeWire = pipeWire;
  readSinks();
}

void PlaybackSurvey::readSinks() {
  issue(*this, pa_context_get_sink_info_list(context_, onSink, this));
}

void PlaybackSurvey::readSources() {
  issue(*this, pa_context_get_source_info_list(context_, onSource, this));
}

void PlaybackSurvey::readSourceOutputs() {
  issue(*this, pa_context_get_source_output_info_list(context_, onSourceOutput, this));
}

void PlaybackSurvey::readSinkInputs() {
  issue(*this, pa_context_get_sink_input_info_list(context_, onSinkInput, this));
}

void PlaybackSurvey::conclude() {
  finish(true);
}

void PlaybackSurvey::finish(bool complete) {
  reading_ = false;
  if (complete) {
    RoutingFindings found{unrecordedOutput(routing, recordStreams_),
                          mutedOutput(routing, recordStreams_.system)};
    if (!told_ || *told_ != found) {
      told_ = found;
      tell_(found);
    }
  }
  if (readAgain_) {
    readAgain_ = false;
    request(context_);
  }
}

}  // namespace platform::linux_gst
