#pragma once

#include <poll.h>

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/posix/SelfPipe.h"

namespace platform::posix {

// The main queue as a poll() loop over two self-pipes, one rung by post(), the other (the
// doorbell) rung by a signal handler, and over the descriptors it is asked to watch. Everything
// it runs, runs on the thread inside run().
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
  // Runs `handler` once on the thread inside run() when `fd` becomes readable (or fails), then
  // forgets the watch. Any thread; the caller keeps `fd` open until the watch has fired or
  // unwatch() has returned.
  void watchReadable(int fd, Work handler);
  void unwatch(int fd);

 private:
  void answerDoorbell();
  void answerWatches(const std::vector<pollfd>& polled);
  void runPending();

  // Both pipes are safe to ring and drain from any thread.
  SelfPipe wakeup_;
  SelfPipe doorbell_;
  std::mutex mutex_;
  std::deque<Work> pending_;           // guarded by mutex_
  Work doorbellHandler_;               // guarded by mutex_
  std::map<int, Work> watches_;        // guarded by mutex_
  std::atomic<bool> quitting_{false};  // atomic: quit() may come from any thread
};

}  // namespace platform::posix
