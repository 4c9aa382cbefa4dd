#include "platform/posix/EarlierMovie.h"

#include <system_error>

namespace platform::posix {

void removeEarlierMovie(const std::filesystem::path& path) {
  std::error_code ignored;
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ignored))) {
    std::filesystem::remove(path, ignored);
  }
}

}  // namespace platform::posix
