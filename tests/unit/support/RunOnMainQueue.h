#pragma once

#include <optional>
#include <variant>

#include "app/StageOutcome.h"
#include "platform/Launch.h"
#include "platform/PlatformError.h"
#include "platform/PlatformServices.h"
#include "platform/Task.h"

namespace test_support {

template <typename T>
using Outcome = std::variant<app::StageResult<T>, platform::PlatformError>;

// Runs `task` to its end with the calling thread as the main thread, and gives back what it
// yielded or threw.
template <typename T>
Outcome<T> runOnMainQueue(platform::PlatformServices& platform, platform::Task<T> task) {
  platform::MainQueue& mainQueue = platform.dispatch().mainQueue();
  std::optional<Outcome<T>> outcome;
  mainQueue.post([&] {
    platform::launch(app::outcomeOf(std::move(task)), [&](Outcome<T> result) {
      outcome.emplace(std::move(result));
      mainQueue.quit();
    });
  });
  mainQueue.run();
  return std::move(*outcome);
}

}  // namespace test_support
