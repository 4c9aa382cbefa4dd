#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/Dispatch.h"

namespace platform::posix {

// A queue served by a thread of its own. Destruction drops work not yet started; from any other
// thread it waits for the item running, from work on the queue itself it cannot and does not.
class SerialQueue final : public Queue {
 public:
  explicit SerialQueue(const std::string& label);
  ~SerialQueue() override;
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void post(Work work) override;

 private:
  struct State;
  static void serve(std::shared_ptr<State> state, std::string label);

  // Shared with the worker, which may outlive this queue when released from its own work.
  std::shared_ptr<State> state_;
  std::thread worker_;  // touched only by the constructor and destructor
};

}  // namespace platform::posix
