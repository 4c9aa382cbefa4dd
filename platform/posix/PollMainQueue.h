#pragma once

#include <atomic>
#include <deque>
#include <mutex>

#include "platform/Dispatch.h"
#include "platform/posix/SelfPipe.h"

namespace platform::posix {

// The main queue as a poll() loop over two self-pipes: one rung by post(), the other (the
// doorbell) rung by a signal handler. Everything it runs, runs on the thread inside run().
class PollMainQueue final : public MainQueue {
 public:
  void post(Work work) override;
  // Serves the queue until quit(); what is still queued then waits for the next run().
  void run() override;
  void quit() override;

  // Where a signal handler rings the doorbell, with SelfPipe::ring.
  int doorbellWriteFd() const { return doorbell_.writeFd(); }
  // Runs on the thread inside run(), once for all the rings heard since it last ran. Null for none.
  void setDoorbellHandler(Work handler);
  // Forgets rings not yet heard.
  void silenceDoorbell() { doorbell_.drain(); }

 private:
  void answerDoorbell();
  void runPending();

  // Both pipes are safe to ring and drain from any thread.
  SelfPipe wakeup_;
  SelfPipe doorbell_;
  std::mutex mutex_;
  std::deque<Work> pending_;           // guarded by mutex_
  Work doorbellHandler_;               // guarded by mutex_
  std::atomic<bool> quitting_{false};  // atomic: quit() may come from any thread
};

}  // namespace platform::posix
