#include "app/RecordingRun.h"

#include <csignal>

#include "app/EventStream.h"
#include "app/StageOutcome.h"
#include "capture/CaptureSession.h"
#include "platform/OneShotWaiter.h"

namespace app {

namespace {

// Resolves once, on the first SIGINT after activation; later ones do nothing.
platform::OneShotWaiter<> armStopRequest(platform::SignalSource& interrupts,
                                         platform::Queue& mainQueue) {
  platform::OneShotWaiter<> stopRequested("stop request", mainQueue);
  interrupts.setEventHandler([stopRequested, requested = false]() mutable {
    if (requested) return;
    requested = true;
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
  if (const auto failure = co_await failureOf(session->start())) {
    emitError(*failure, "start");
    co_return 1;
  }
  emitEvent(EventRecord("ready"));

  co_await armStopRequest(*interrupts, dispatch.mainQueue());

  auto stopped = co_await outcomeOf(session->stop());
  if (const auto* failure = std::get_if<platform::PlatformError>(&stopped)) {
    emitError(*failure, "stop");
    co_return 1;
  }
  emitEvent(std::get<EventRecord>(stopped));
  co_return 0;
}

}  // namespace app
