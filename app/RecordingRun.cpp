#include "app/RecordingRun.h"

#include <csignal>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "app/StageOutcome.h"
#include "app/TerminationSignals.h"
#include "capture/CaptureSession.h"
#include "platform/OneShotWaiter.h"
#include "platform/ToolErrors.h"

namespace app {

namespace {

// Resolves once, on the first stop signal after activation (or one held since the start, with
// `releaseHeld`) or when the parent goes away, whichever comes first; later ones do nothing.
platform::OneShotWaiter<> armStopRequest(platform::SignalSource& interrupts,
                                         platform::ParentExitSource& parentExit,
                                         platform::Queue& mainQueue, bool releaseHeld) {
  platform::OneShotWaiter<> stopRequested("stop request", mainQueue);
  // The sources may copy their handlers, so the flag lives outside them. Main queue only.
  auto requested = std::make_shared<bool>(false);
  auto request = [stopRequested, requested]() mutable {
    if (std::exchange(*requested, true)) return;
    stopRequested.resume();
  };
  interrupts.setEventHandler(request);
  parentExit.setEventHandler(request);
  interrupts.activate();
  parentExit.activate();
  if (releaseHeld && releaseTerminationSignals()) request();
  return stopRequested;
}

}  // namespace

platform::Task<int> runRecording(const RunOptions& options, platform::PlatformServices& platform,
                                 events::EventSink& sink) {
  platform::Dispatch& dispatch = platform.dispatch();
  const std::string errorTypeName = platform.screenCapture().errorTypeName();
  // The process entry has done so already; an in-process run relies on this one.
  std::signal(SIGINT, SIG_IGN);
  // Never cancelled: the stop signals stay handled, also while the stop runs.
  std::vector<int> stopSignals{SIGINT};
  if (options.stopOnTermination) {
    for (const int signalNumber : terminationSignals()) stopSignals.push_back(signalNumber);
  }
  const std::unique_ptr<platform::SignalSource> interrupts =
      dispatch.makeInterruptSource(std::move(stopSignals));
  std::unique_ptr<platform::ParentExitSource> parentExit;
  try {
    parentExit = dispatch.makeParentExitSource();
  } catch (const std::system_error&) {
  }
  if (!parentExit) {
    events::emitError(sink,
                      platform::toolError(errorTypeName, platform::ToolErrorCode::resourceRefused),
                      "start");
    co_return 1;
  }

  const auto session = capture::CaptureSession::create(
      platform, sink, options.outputURL, options.captureMicrophone, options.microphoneName,
      {options.systemPcm, options.microphonePcm});
  const auto startFailure = co_await failureOf(session->start(), errorTypeName);
  if (startFailure) {
    events::emitError(sink, *startFailure, "start");
    co_return 1;
  }

  // Armed before "ready", so that a parent which stops the run the moment it reads "ready" is
  // heard; the handlers run on this thread, so not before the driver waits.
  const auto stopRequested =
      armStopRequest(*interrupts, *parentExit, dispatch.mainQueue(), options.stopOnTermination);
  events::EventRecord ready("ready");
  if (const auto microphone = session->recordedMicrophone()) {
    ready.set("microphone", microphone->localizedName);
  }
  sink.emit(ready);
  co_await stopRequested;

  auto stopped = co_await outcomeOf(session->stop(), errorTypeName);
  const auto* stopFailure = std::get_if<platform::PlatformError>(&stopped);
  if (stopFailure) {
    events::emitError(sink, *stopFailure, "stop");
    co_return 1;
  }
  sink.emit(std::get<events::EventRecord>(stopped));
  co_return 0;
}

}  // namespace app
