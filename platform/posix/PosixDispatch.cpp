#include "platform/posix/PosixDispatch.h"

#include <utility>

#include "platform/posix/DelayedWorkThread.h"
#include "platform/posix/InterruptSource.h"
#include "platform/posix/ParentWatch.h"
#include "platform/posix/PollMainQueue.h"
#include "platform/posix/SerialQueue.h"
#include "platform/posix/SteadyRepeatingTimer.h"

namespace platform::posix {

PosixDispatch::PosixDispatch()
    : mainQueue_(std::make_shared<PollMainQueue>()),
      delayedWork_(std::make_unique<DelayedWorkThread>()) {}

PosixDispatch::~PosixDispatch() = default;

MainQueue& PosixDispatch::mainQueue() {
  return *mainQueue_;
}

std::shared_ptr<Queue> PosixDispatch::makeSerialQueue(const std::string& label) {
  return std::make_shared<SerialQueue>(label);
}

std::unique_ptr<RepeatingTimer> PosixDispatch::makeRepeatingTimer(std::shared_ptr<Queue> queue) {
  return std::make_unique<SteadyRepeatingTimer>(std::move(queue));
}

void PosixDispatch::runAfter(std::chrono::nanoseconds delay, Work work) {
  delayedWork_->runAfter(delay, std::move(work));
}

std::unique_ptr<SignalSource> PosixDispatch::makeInterruptSource(std::vector<int> signalNumbers) {
  return std::make_unique<InterruptSource>(mainQueue_, std::move(signalNumbers));
}

std::unique_ptr<ParentExitSource> PosixDispatch::makeParentExitSource() {
  return std::make_unique<ParentWatch>(mainQueue_);
}

}  // namespace platform::posix
