// The capture stream on GStreamer.
//
// create:  makeStream() stores the output, the configuration and the weak delegate; nothing runs.
// start:   startCapture() fixes the plan (outputs, file) on the caller's thread and posts to the
//          loop thread, which builds the pipeline, watches its bus, arms the start deadline and
//          has GStreamer's thread pool set it PLAYING (the sources' connect can block). The start
//          completion runs on the loop thread when the pipeline reports PLAYING, or with the
//          first error, or at the deadline. Building opens the output file without blocking
//          (OutputFile.h): a missing folder, a FIFO without a reader or a held file fails there.
// samples: the sources' streaming threads lend each buffer to the outputs in place, in the
//          sample taps (SampleTap.cpp); the outputs' queues are not used.
// stop:    stopCapture() posts to the loop thread, which has EOS sent into the sources; when EOS
//          has come out of the file sink the bus reports it, the pipeline is taken down, the
//          recording delegate hears the file is finished, then the stop completion runs.
// loss:    a source whose server went away (or whose named input did) records silence and
//          tries again on its own (PulseRecordSource.cpp); its messages become the delegate's
//          source lost and restored. A source still lost when the stop has drained makes the
//          stop complete with the loss's error; the movie is complete all the same.
// failure: a source or mixer that fails otherwise ends the recording the way a stop does: the
//          stream reports the failure at once, EOS is sent into the sources and the movie is
//          finished with everything that arrived; stop() then reports the stored failure. A
//          drain that then times out reports that same failure, not one of its own. A failure
//          of the encoding and writing half cannot be drained and ends the recording at once.
// writes:  once PLAYING, a look every second at the file sink tells the recording delegate of a
//          write that has not returned for 5 s, and of the writes going on again.
// follow:  once PLAYING, and again whenever a source records again after a loss (on new record
//          streams, maybe of a new server), a DeviceFollower keeps the sources on the default
//          output's monitor, the microphone silenced while on a monitor, and both unmuted
//          (DeviceFollower.cpp).
// finish:  every end (EOS, error, time-out) goes through tearDown(): follower, bus watch, write
//          watch and deadline removed, then the pipeline handed to GStreamer's thread pool, which
//          sets it to NULL (after a state change still running) and drops it; the completion and
//          the recording delegate do not wait for that.
//
// Threads and ownership: StreamBridge is shared by the stream, every GLib source attached for
// it (bus watch, write watch, deadline) and the pool's state change, each holding its own copy of
// the shared pointer; its fields are touched only on the loop thread, so there is no lock.
// Completions and delegate calls are made from the loop thread with no lock held. Delegates are
// held weakly and skipped when gone.
#include "platform/linux/CaptureStream.h"

#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

#include "platform/linux/CapturePipeline.h"
#include "platform/linux/DeviceFollower.h"
#include "platform/linux/Errors.h"

namespace platform::linux_gst {

namespace {

// How long reaching PLAYING or draining may take before the stream gives up.
constexpr guint kDeadlineSeconds = 10;
// A write of the file that has not returned for this long is told: a working disk returns in
// milliseconds, and the muxer and the mixer hold many seconds more before audio is at risk.
constexpr auto kWriteStallLimit = std::chrono::seconds(5);

enum class Phase { idle, starting, running, stopping, ended };

}  // namespace

struct StreamBridge {
  StreamBridge(GLibLoopThread& loop, std::weak_ptr<StreamDelegate> delegate)
      : loop(loop), delegate(std::move(delegate)) {}

  GLibLoopThread& loop;
  std::weak_ptr<StreamDelegate> delegate;

  // Loop thread only, from here on.
  Phase phase = Phase::idle;
  std::unique_ptr<CapturePipeline> pipeline;
  std::unique_ptr<DeviceFollower> follower;
  std::optional<PlatformError> sourceFailure;             // the first, which was reported
  std::map<StreamOutputType, PlatformError> lostSources;  // each with its loss's error
  // Since when the microphone is silenced, its stream on a monitor as its input went away; not
  // a loss the stop reports, since the server records on.
  std::optional<std::chrono::steady_clock::time_point> microphoneSilencedSince;
  std::shared_ptr<GstRecordingOutput> recording;
  GSource* busWatch = nullptr;
  GSource* writeWatch = nullptr;
  GSource* deadline = nullptr;
  std::uint64_t writesDoneSeen = 0;
  // Since when a write has been seen under way without returning, and whether it was told.
  std::optional<std::chrono::steady_clock::time_point> writeWaitingSince;
  bool writeStallTold = false;
  ErrorCompletion startCompletion;
  ErrorCompletion stopCompletion;
};

namespace {

using Bridge = std::shared_ptr<StreamBridge>;

// Each GLib source keeps the bridge alive through its own heap copy of the pointer.
gpointer bridgeCopy(const Bridge& bridge) {
  return new Bridge(bridge);
}
void dropBridgeCopy(gpointer data) {
  delete static_cast<Bridge*>(data);
}
const Bridge& bridgeOf(gpointer data) {
  return *static_cast<Bridge*>(data);
}

void removeSource(GSource*& source) {
  if (!source) return;
  g_source_destroy(source);
  g_source_unref(source);
  source = nullptr;
}

// Setting the pipeline to NULL joins its streaming threads, which a write that never returns,
// a sound server that never answers or a state change still running can hold for ever; so it
// is done on GStreamer's thread pool, and a pipeline that never stops is left behind when the
// process exits. Nothing touches the pipeline after this.
void tearDown(StreamBridge& bridge) {
  bridge.follower.reset();
  removeSource(bridge.busWatch);
  removeSource(bridge.writeWatch);
  removeSource(bridge.deadline);
  if (bridge.pipeline) {
    GstElement* element = bridge.pipeline->element();
    gst_element_call_async(
        element,
        [](GstElement*, gpointer pipeline) { delete static_cast<CapturePipeline*>(pipeline); },
        bridge.pipeline.release(), nullptr);
  }
  bridge.phase = Phase::ended;
}

void complete(ErrorCompletion& slot, std::optional<PlatformError> error) {
  if (!slot) return;
  auto completion = std::move(slot);
  slot = nullptr;
  completion(std::move(error));
}

void failStart(const Bridge& bridge, const PlatformError& error) {
  tearDown(*bridge);
  complete(bridge->startCompletion, error);
}

// A failure of the recording half, or a drain that does not end: the file cannot be completed
// any more, so the recording output hears of it, and nobody waits for a finish that will not
// come.
void failRecording(const Bridge& bridge, const PlatformError& error) {
  tearDown(*bridge);
  bridge->recording->reportFailed(error);
  complete(bridge->stopCompletion, error);
}

// Reaching PLAYING, or draining, took too long: whatever holds it up is given up.
gboolean onDeadline(gpointer data) {
  Bridge bridge = bridgeOf(data);  // outlives the deadline's removal in tearDown
  if (bridge->phase == Phase::starting) {
    failStart(bridge,
              serviceError(ServiceErrorCode::refusedToStart, "The capture did not start in time."));
  } else if (bridge->phase == Phase::stopping) {
    failRecording(bridge,
                  bridge->sourceFailure.value_or(serviceError(
                      ServiceErrorCode::drainTimedOut, "The recording did not drain in time.")));
  }
  return G_SOURCE_REMOVE;
}

void armDeadline(const Bridge& bridge) {
  removeSource(bridge->deadline);
  bridge->deadline = g_timeout_source_new_seconds(kDeadlineSeconds);
  g_source_set_callback(bridge->deadline, onDeadline, bridgeCopy(bridge), dropBridgeCopy);
  g_source_attach(bridge->deadline, bridge->loop.context());
}

// The first failure is the cause; the second source's failure and the drain's own errors that
// follow add nothing.
void failSource(const Bridge& bridge, const PlatformError& error) {
  if (!bridge->sourceFailure) {
    bridge->sourceFailure = error;
    if (auto delegate = bridge->delegate.lock()) delegate->streamDidStopWithError(error);
  }
  if (bridge->phase != Phase::running) return;
  bridge->phase = Phase::stopping;
  armDeadline(bridge);
  bridge->pipeline->endSources();
}

void onError(const Bridge& bridge, GstMessage* message) {
  GError* gerror = nullptr;
  gst_message_parse_error(message, &gerror, nullptr);
  PlatformError error = fromGError(gerror);
  g_error_free(gerror);
  if (bridge->phase == Phase::starting) {
    failStart(bridge, error);
  } else if (bridge->phase == Phase::running || bridge->phase == Phase::stopping) {
    if (CapturePipeline::isRecordingElement(GST_MESSAGE_SRC(message))) {
      failRecording(bridge, error);
    } else {
      failSource(bridge, error);
    }
  }
}

// A microphone on a monitor records the tool's silence, not the room's: the parent hears of it
// as a lost source, and of its return.
void onMicrophoneOnMonitor(const Bridge& bridge, bool onMonitor) {
  const auto now = std::chrono::steady_clock::now();
  auto delegate = bridge->delegate.lock();
  bridge->pipeline->silenceMicrophone(onMonitor);
  if (onMonitor && !bridge->microphoneSilencedSince) {
    bridge->microphoneSilencedSince = now;
    GError* gerror = g_error_new(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND,
                                 "The microphone's input went away.");
    const PlatformError error = fromGError(gerror);
    g_error_free(gerror);
    if (delegate) delegate->streamSourceWasLost(StreamOutputType::microphone, error);
  } else if (!onMonitor && bridge->microphoneSilencedSince) {
    const std::chrono::duration<double> gap = now - *bridge->microphoneSilencedSince;
    bridge->microphoneSilencedSince.reset();
    if (delegate) delegate->streamSourceWasRestored(StreamOutputType::microphone, gap.count());
  }
}

// Once a second while recording: a write that stays under way is told once past the limit, and
// its return (or any write's since the last look) once it was told.
gboolean onWriteWatch(gpointer data) {
  const Bridge& bridge = bridgeOf(data);
  if (bridge->phase != Phase::running) return G_SOURCE_CONTINUE;
  const auto now = std::chrono::steady_clock::now();
  const CapturePipeline::Writes writes = bridge->pipeline->writes();
  if (writes.done != bridge->writesDoneSeen || writes.begun == writes.done) {
    if (bridge->writeStallTold) {
      const std::chrono::duration<double> stalled = now - *bridge->writeWaitingSince;
      bridge->recording->reportResumed(stalled.count());
    }
    bridge->writeWaitingSince.reset();
    bridge->writeStallTold = false;
  }
  bridge->writesDoneSeen = writes.done;
  if (writes.begun == writes.done) return G_SOURCE_CONTINUE;
  if (!bridge->writeWaitingSince) bridge->writeWaitingSince = now;
  if (!bridge->writeStallTold && now - *bridge->writeWaitingSince >= kWriteStallLimit) {
    bridge->writeStallTold = true;
    bridge->recording->reportStalled();
  }
  return G_SOURCE_CONTINUE;
}

void watchWrites(const Bridge& bridge) {
  bridge->writeWatch = g_timeout_source_new(1000);
  g_source_set_callback(bridge->writeWatch, onWriteWatch, bridgeCopy(bridge), dropBridgeCopy);
  g_source_attach(bridge->writeWatch, bridge->loop.context());
}

void followDevices(const Bridge& bridge) {
  bridge->follower.reset();  // before its successor connects
  // The successor silences afresh where it must.
  bridge->microphoneSilencedSince.reset();
  bridge->pipeline->silenceMicrophone(false);
  bridge->follower = std::make_unique<DeviceFollower>(
      bridge->loop, bridge->pipeline->recordStreams(),
      [weakBridge = std::weak_ptr<StreamBridge>(bridge)](bool onMonitor) {
        if (auto bridge = weakBridge.lock()) onMicrophoneOnMonitor(bridge, onMonitor);
      },
      [weakDelegate = bridge->delegate](const RoutingFindings& findings) {
        if (auto delegate = weakDelegate.lock()) {
          delegate->streamSoundPlaysUnrecorded(findings.unrecordedOutput);
          delegate->streamOutputMuted(findings.mutedOutput);
        }
      });
}

void onStateChanged(const Bridge& bridge, GstMessage* message) {
  if (bridge->phase != Phase::starting ||
      GST_MESSAGE_SRC(message) != GST_OBJECT(bridge->pipeline->element())) {
    return;
  }
  GstState newState;
  gst_message_parse_state_changed(message, nullptr, &newState, nullptr);
  if (newState != GST_STATE_PLAYING) return;
  removeSource(bridge->deadline);
  bridge->phase = Phase::running;
  followDevices(bridge);
  watchWrites(bridge);
  bridge->recording->reportStarted();
  complete(bridge->startCompletion, std::nullopt);
}

// A loss while starting is told too: the start goes on without the source (its silence lets
// the pipeline play), and the stop must know of it.
void onSourceMessage(const Bridge& bridge, GstMessage* message) {
  const std::optional<StreamOutputType> source =
      CapturePipeline::sourceType(GST_MESSAGE_SRC(message));
  if (!source || bridge->phase == Phase::idle || bridge->phase == Phase::ended) return;
  const GstStructure* structure = gst_message_get_structure(message);
  auto delegate = bridge->delegate.lock();
  if (gst_structure_has_name(structure, kSourceLostMessage)) {
    GError* gerror = nullptr;
    if (!gst_structure_get(structure, "error", G_TYPE_ERROR, &gerror, nullptr)) return;
    const PlatformError error = fromGError(gerror);
    g_error_free(gerror);
    bridge->lostSources.insert_or_assign(*source, error);
    if (delegate) delegate->streamSourceWasLost(*source, error);
  } else if (gst_structure_has_name(structure, kSourceRestoredMessage)) {
    double gapSeconds = 0;
    gst_structure_get_double(structure, "gap-seconds", &gapSeconds);
    bridge->lostSources.erase(*source);
    if (bridge->phase == Phase::running) followDevices(bridge);
    if (delegate) delegate->streamSourceWasRestored(*source, gapSeconds);
  } else if (gst_structure_has_name(structure, kSourceDroppedMessage)) {
    double droppedSeconds = 0;
    gst_structure_get_double(structure, "dropped-seconds", &droppedSeconds);
    if (delegate) delegate->streamSourceDidDropAudio(*source, droppedSeconds);
  }
}

// A source still lost when the drain is done fails the stop with its loss; the movie is complete.
void onEndOfStream(const Bridge& bridge) {
  if (bridge->phase != Phase::stopping) return;
  std::optional<PlatformError> loss;
  if (!bridge->lostSources.empty()) loss = bridge->lostSources.begin()->second;
  tearDown(*bridge);
  bridge->recording->reportFinished();
  complete(bridge->stopCompletion, loss);
}

gboolean onBusMessage(GstBus*, GstMessage* message, gpointer data) {
  Bridge bridge = *static_cast<Bridge*>(data);  // outlives the watch's removal in tearDown
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
      onError(bridge, message);
      break;
    case GST_MESSAGE_STATE_CHANGED:
      onStateChanged(bridge, message);
      break;
    case GST_MESSAGE_EOS:
      onEndOfStream(bridge);
      break;
    case GST_MESSAGE_ELEMENT:
      onSourceMessage(bridge, message);
      break;
    default:
      break;
  }
  return G_SOURCE_CONTINUE;
}

// The state change failed; its reason, if any, is on the bus unless the watch has taken it.
void onRefusedToPlay(const Bridge& bridge) {
  if (bridge->phase != Phase::starting) return;
  GstBus* bus = gst_element_get_bus(bridge->pipeline->element());
  GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (message) {
    onError(bridge, message);
    gst_message_unref(message);
  } else {
    failStart(bridge,
              serviceError(ServiceErrorCode::refusedToStart, "The capture refused to start."));
  }
}

// Runs on GStreamer's thread pool: opening the sources talks to the sound server and can block
// for as long as it does not answer, which must not hold the loop and its start deadline.
void setPlaying(GstElement* element, gpointer data) {
  if (gst_element_set_state(element, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) return;
  bridgeOf(data)->loop.post([bridge = bridgeOf(data)] { onRefusedToPlay(bridge); });
}

void startOnLoop(const Bridge& bridge, const PipelinePlan& plan, ErrorCompletion completion) {
  if (bridge->phase != Phase::idle) {
    completion(serviceError(ServiceErrorCode::refusedToStart, "The capture was started before."));
    return;
  }
  try {
    bridge->pipeline = CapturePipeline::build(plan);
  } catch (const PlatformError& error) {
    bridge->phase = Phase::ended;
    completion(error);
    return;
  }
  bridge->phase = Phase::starting;
  bridge->startCompletion = std::move(completion);
  GstBus* bus = gst_element_get_bus(bridge->pipeline->element());
  bridge->busWatch = gst_bus_create_watch(bus);
  g_source_set_callback(bridge->busWatch, G_SOURCE_FUNC(onBusMessage), bridgeCopy(bridge),
                        dropBridgeCopy);
  g_source_attach(bridge->busWatch, bridge->loop.context());
  gst_object_unref(bus);
  armDeadline(bridge);
  gst_element_call_async(bridge->pipeline->element(), setPlaying, bridgeCopy(bridge),
                         dropBridgeCopy);
}

void stopOnLoop(const Bridge& bridge, ErrorCompletion completion) {
  if (bridge->phase != Phase::running) {
    if (bridge->phase == Phase::starting) {
      failStart(bridge, serviceError(ServiceErrorCode::refusedToStart,
                                     "The capture was stopped while starting."));
    }
    completion(std::nullopt);
    return;
  }
  bridge->phase = Phase::stopping;
  bridge->stopCompletion = std::move(completion);
  armDeadline(bridge);
  bridge->pipeline->endSources();
}

}  // namespace

CaptureStream::CaptureStream(GLibLoopThread& loop, std::shared_ptr<const PulseDisplay> display,
                             const StreamConfiguration& configuration,
                             std::weak_ptr<StreamDelegate> delegate)
    : loop_(loop),
      display_(std::move(display)),
      configuration_(configuration),
      bridge_(std::make_shared<StreamBridge>(loop, std::move(delegate))) {}

void CaptureStream::addStreamOutput(std::weak_ptr<StreamOutput> output, StreamOutputType type,
                                    std::shared_ptr<Queue> /*unused: metered in place*/) {
  OutputTarget target{std::move(output)};
  if (type == StreamOutputType::audio) {
    systemTargets_.push_back(std::move(target));
  } else if (type == StreamOutputType::microphone) {
    microphoneTargets_.push_back(std::move(target));
  }
  // Screen outputs are accepted and never fed: the video track is a placeholder.
}

void CaptureStream::addRecordingOutput(std::shared_ptr<RecordingOutput> recordingOutput) {
  auto recording = std::dynamic_pointer_cast<GstRecordingOutput>(recordingOutput);
  if (!recording) {
    throw serviceError(ServiceErrorCode::foreignObject,
                       "The recording output was not made by this service.");
  }
  recording_ = std::move(recording);
}

void CaptureStream::startCapture(ErrorCompletion completion) {
  if (!display_ || !recording_) {
    loop_.post([completion = std::move(completion), foreign = !display_] {
      completion(foreign ? serviceError(ServiceErrorCode::foreignObject,
                                        "The content filter was not made by this service.")
                         : serviceError(ServiceErrorCode::refusedToStart,
                                        "No recording output was added before the start."));
    });
    return;
  }
  PipelinePlan plan;
  plan.systemSourceName = display_->monitorSourceName();
  plan.microphoneSourceName = configuration_.microphoneCaptureDeviceID;
  plan.microphoneKeptOnSource = configuration_.microphoneKeptOnDevice;
  if (configuration_.sampleRate > 0) plan.sampleRate = static_cast<int>(configuration_.sampleRate);
  if (configuration_.channelCount > 0) {
    plan.channelCount = static_cast<int>(configuration_.channelCount);
  }
  plan.withMicrophone = !microphoneTargets_.empty();
  plan.systemTargets = systemTargets_;
  plan.microphoneTargets = microphoneTargets_;
  plan.outputFile = recording_->configuration().outputURL;
  loop_.post([bridge = bridge_, plan = std::move(plan), recording = recording_,
              completion = std::move(completion)]() mutable {
    bridge->recording = std::move(recording);
    startOnLoop(bridge, plan, std::move(completion));
  });
}

void CaptureStream::stopCapture(ErrorCompletion completion) {
  loop_.post([bridge = bridge_, completion = std::move(completion)]() mutable {
    stopOnLoop(bridge, std::move(completion));
  });
}

}  // namespace platform::linux_gst
