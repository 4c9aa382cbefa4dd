#include "platform/posix/InterruptSource.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/posix/PollMainQueue.h"
#include "platform/posix/SelfPipe.h"

namespace platform::posix {
namespace {

// Read by the signal handler, hence lock-free atomics: the active doorbell (-1 for none), and how
// many handlers may still be writing to a doorbell they read before it was withdrawn.
std::atomic<int> activeDoorbellFd{-1};
std::atomic<int> handlersRinging{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int) {
  handlersRinging.fetch_add(1);
  const int fd = activeDoorbellFd.load();
  if (fd != -1) SelfPipe::ring(fd);
  handlersRinging.fetch_sub(1);
}

int setDispositions(const std::vector<int>& signalNumbers, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  for (const int signalNumber : signalNumbers) {
    if (sigaction(signalNumber, &action, nullptr) == -1) return -1;
  }
  return 0;
}

}  // namespace

InterruptSource::InterruptSource(std::shared_ptr<PollMainQueue> mainQueue,
                                 std::vector<int> signalNumbers)
    : mainQueue_(std::move(mainQueue)), signalNumbers_(std::move(signalNumbers)) {}

InterruptSource::~InterruptSource() {
  if (!active_) return;
  setDispositions(signalNumbers_, SIG_IGN, 0);
  int ours = mainQueue_->doorbellWriteFd();
  activeDoorbellFd.compare_exchange_strong(ours, -1);
  // A handler on another thread may have read the fd just before; it never blocks, so wait it out.
  while (handlersRinging.load() != 0) std::this_thread::yield();
  mainQueue_->setDoorbellHandler(nullptr);
  mainQueue_->silenceDoorbell();
}

void InterruptSource::setEventHandler(Work handler) {
  handler_ = std::move(handler);
}

void InterruptSource::activate() {
  if (active_) return;
  int none = -1;
  if (!activeDoorbellFd.compare_exchange_strong(none, mainQueue_->doorbellWriteFd())) {
    throw std::logic_error("another signal source is active");
  }
  mainQueue_->setDoorbellHandler(handler_);
  if (setDispositions(signalNumbers_, onSignal, SA_RESTART) == -1) {
    const int error = errno;
    mainQueue_->setDoorbellHandler(nullptr);
    activeDoorbellFd = -1;
    throw std::system_error(error, std::generic_category(), "sigaction");
  }
  active_ = true;
}

}  // namespace platform::posix
