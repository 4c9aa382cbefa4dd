#include "platform/posix/ThreadName.h"

#include <pthread.h>

namespace platform::posix {

void nameCurrentThread(const std::string& name) {
#if defined(__APPLE__)
  pthread_setname_np(name.c_str());
#elif defined(__linux__)
  // Longer names are refused, not truncated.
  pthread_setname_np(pthread_self(), name.substr(0, kThreadNameLimit).c_str());
#else
  (void)name;
#endif
}

std::string threadNameOf(std::string_view queueLabel) {
  const std::size_t lastDot = queueLabel.rfind('.');
  if (lastDot != std::string_view::npos) queueLabel.remove_prefix(lastDot + 1);
  return std::string(queueLabel.substr(0, kThreadNameLimit));
}

}  // namespace platform::posix
