#include "app/RecordingRun.h"

#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "app/StageOutcome.h"
#include "app/StopSignals.h"
#include "capture/CaptureSession.h"
#include "platform/OneShotWaiter.h"
#include "platform/ToolErrors.h"

namespace app {

namespace {

// Resolves once, on the first stop signal (one held since the process's first step included) or
// when the parent goes away, whichever comes first; later ones do nothing.
platform::OneShotWaiter<> armStopRequest(platform::SignalSource& interrupts,
                                         platform::ParentExitSource& parentExit,
                                         platform::Queue& mainQueue, bool onTermination) {
  platform::OneShotWaiter<> stopRequested("stop request", mainQueue);
  // The sources may copy their handlers, so the flag lives outside them. Main queue only.
  auto requested = std::make_shared<bool>(false);
  auto request = [stopRequested, requested]() mutable {
    if (std::exchange(*requested, true)) return;
    stopRequested.resume();
  };
  interrupts.setEventHandler(request);
  parentExit.setEventHandler(request);
  const bool held = stopSignalPending(onTermination);
  interrupts.activate();
  parentExit.activate();
  releaseStopSignals(onTermination);
  if (held) request();
  return stopRequested;
}

// What a recording holds from its start to its stop.
struct Recording {
  std::unique_ptr<platform::SignalSource> interrupts;
  std::unique_ptr<platform::ParentExitSource> parentExit;
  std::shared_ptr<capture::CaptureSession> session;
  std::optional<platform::OneShotWaiter<>> stopRequested;
};

// Everything before "ready" is the start: a source, a queue or a thread that cannot be made fails
// it as the session's own start does. Fills in `recording`, which outlives a failure, so that
// the session goes only after its error has been written.
platform::Task<void> startRecording(Recording& recording, const RunOptions& options,
                                    platform::PlatformServices& platform, events::EventSink& sink) {
  platform::Dispatch& dispatch = platform.dispatch();
  // Never cancelled: the stop signals stay handled, also while the stop runs.
  recording.interrupts = dispatch.makeInterruptSource(stopSignals(options.stopOnTermination));
  try {
    recording.parentExit = dispatch.makeParentExitSource();
  } catch (const std::system_error&) {
  }
  if (!recording.parentExit) {
    throw platform::toolError(platform.screenCapture().errorTypeName(),
                              platform::ToolErrorCode::resourceRefused);
  }
  // Armed before the start, so that a stop asked for while starting (a SIGINT, a parent that
  // ends) stops the recording right after "ready" rather than being lost, and one the moment
  // "ready" is read is heard.
  recording.stopRequested = armStopRequest(*recording.interrupts, *recording.parentExit,
                                           dispatch.mainQueue(), options.stopOnTermination);
  recording.session = capture::CaptureSession::create(
      platform, sink, options.outputURL, options.captureMicrophone, options.microphoneName,
      {options.systemPcm, options.microphonePcm});
  co_await recording.session->start();
}

}  // namespace

platform::Task<int> runRecording(const RunOptions& options, platform::PlatformServices& platform,
                                 events::EventSink& sink) {
  const std::string errorTypeName = platform.screenCapture().errorTypeName();
  // The process entry has done so already; an in-process run relies on this one.
  holdStopSignals(options.stopOnTermination);
  Recording recording;
  const auto startFailure =
      co_await failureOf(startRecording(recording, options, platform, sink), errorTypeName);
  if (startFailure) {
    events::emitError(sink, *startFailure, "start");
    co_return 1;
  }
  events::EventRecord ready("ready");
  if (const auto microphone = recording.session->recordedMicrophone()) {
    ready.set("microphone", microphone->localizedName);
  }
  sink.emit(ready);
  co_await *recording.stopRequested;

  auto stopped = co_await outcomeOf(recording.session->stop(), errorTypeName);
  const auto* stopFailure = std::get_if<platform::PlatformError>(&stopped);
  if (stopFailure) {
    events::emitError(sink, *stopFailure, "stop");
    co_return 1;
  }
  sink.emit(std::get<events::EventRecord>(stopped));
  co_return 0;
}

}  // namespace app
