#include "platform/posix/ThreadName.h"

#include <pthread.h>

namespace platform::posix {

void nameCurrentThread(const std::string& name) {
#if defined(__APPLE__)
  pthread_setname_np(name.c_str());
#elif defined(__linux__)
  // Longer names are refused, not truncated.
  constexpr std::size_t kLinuxNameLimit = 15;
  pthread_setname_np(pthread_self(), name.substr(0, kLinuxNameLimit).c_str());
#else
  (void)name;
#endif
}

}  // namespace platform::posix
