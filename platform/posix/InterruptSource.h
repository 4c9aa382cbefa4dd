#pragma once

#include <memory>
#include <vector>

#include "platform/Dispatch.h"

namespace platform::posix {

class PollMainQueue;

// Reports its signals on the main queue by ringing its doorbell from the signal handler. The
// handler finds the doorbell through process-wide state, so one source at a time may be active.
// Destruction sets its signals to ignored.
class InterruptSource final : public SignalSource {
 public:
  InterruptSource(std::shared_ptr<PollMainQueue> mainQueue, std::vector<int> signalNumbers);
  ~InterruptSource() override;
  InterruptSource(const InterruptSource&) = delete;
  InterruptSource& operator=(const InterruptSource&) = delete;

  void setEventHandler(Work handler) override;
  // Throws std::logic_error while another source is active.
  void activate() override;

 private:
  // Keeps the doorbell open for as long as the signal handler may ring it.
  std::shared_ptr<PollMainQueue> mainQueue_;
  const std::vector<int> signalNumbers_;
  Work handler_;         // owner thread only
  bool active_ = false;  // owner thread only
};

}  // namespace platform::posix
