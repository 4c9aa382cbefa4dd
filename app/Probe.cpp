#include "app/Probe.h"

#include "app/StageOutcome.h"
#include "capture/ServiceCalls.h"

namespace app {

platform::Task<int> runProbe(platform::PlatformServices& platform, events::EventSink& sink) {
  const auto failure = co_await failureOf(
      capture::requestShareableContent(platform.screenCapture(), platform.dispatch()),
      platform.screenCapture().errorTypeName());
  if (failure) {
    events::emitError(sink, *failure, "probe");
    co_return 1;
  }
  sink.emit(events::EventRecord("probe").set("granted", true));
  co_return 0;
}

}  // namespace app
