#include "app/RecordingRun.h"

#include <csignal>
#include <memory>
#include <utility>

#include "app/StageOutcome.h"
#include "capture/CaptureSession.h"
#include "events/EventStream.h"
#include "platform/OneShotWaiter.h"

namespace app {

namespace {

// Resolves once, on the first SIGINT after activation; later ones do nothing.
platform::OneShotWaiter<> armStopRequest(platform::SignalSource& interrupts,
                                         platform::Queue& mainQueue) {
  platform::OneShotWaiter<> stopRequested("stop request", mainQueue);
  // The source may copy its handler, so the flag lives outside it. Main queue only.
  auto requested = std::make_shared<bool>(false);
  interrupts.setEventHandler([stopRequested, requested]() mutable {
    if (std::exchange(*requested, true)) return;
    stopRequested.resume();
  });
  interrupts.activate();
  return stopRequested;
}

}  // namespace

platform::Task<int> runRecording(const RunOptions& options, platform::PlatformServices& platform) {
  platform::Dispatch& dispatch = platform.dispatch();
  std::signal(SIGINT, SIG_IGN);
  // Never cancelled: SIGINT stays ignored, also while the stop runs.
  const std::unique_ptr<platform::SignalSource> interrupts = dispatch.makeInterruptSource();

  const auto session = capture::CaptureSession::create(
      platform, options.outputURL, options.captureMicrophone, options.microphoneName);
  const auto startFailure = co_await failureOf(session->start());
  if (startFailure) {
    events::emitError(*startFailure, "start");
    co_return 1;
  }
  events::emitEvent(events::EventRecord("ready"));

  const auto stopRequested = armStopRequest(*interrupts, dispatch.mainQueue());
  co_await stopRequested;

  auto stopped = co_await outcomeOf(session->stop());
  const auto* stopFailure = std::get_if<platform::PlatformError>(&stopped);
  if (stopFailure) {
    events::emitError(*stopFailure, "stop");
    co_return 1;
  }
  events::emitEvent(std::get<events::EventRecord>(stopped));
  co_return 0;
}

}  // namespace app
