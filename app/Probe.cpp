#include "app/Probe.h"

#include "app/StageOutcome.h"
#include "capture/ServiceCalls.h"
#include "events/EventStream.h"

namespace app {

platform::Task<int> runProbe(platform::PlatformServices& platform) {
  const auto failure = co_await failureOf(
      capture::requestShareableContent(platform.screenCapture(), platform.dispatch().mainQueue()));
  if (failure) {
    events::emitError(*failure, "probe");
    co_return 1;
  }
  events::emitEvent(events::EventRecord("probe").set("granted", true));
  co_return 0;
}

}  // namespace app
