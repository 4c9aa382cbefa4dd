#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// Linux refuses thread names longer than this; every name the tool gives fits.
inline constexpr std::size_t kThreadNameLimit = 15;

// Names the calling thread for `top -H`, debuggers and crash reports; best effort.
void nameCurrentThread(const std::string& name);

// A queue's job, for its thread's name: the last part of a reverse-DNS label
// ("com.tessaloquin.audio-samples" gives "audio-samples"), cut to the limit.
std::string threadNameOf(std::string_view queueLabel);

}  // namespace platform::posix
