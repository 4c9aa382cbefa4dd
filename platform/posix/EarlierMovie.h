#pragma once

#include <filesystem>

namespace platform::posix {

// A recording replaces what was at its path, but a platform's own movie writer may refuse to
// write over a file (AVFoundation's does). An earlier regular file at `path` is removed; a link,
// a FIFO or a device is left for the writer to judge. Called with the path claimed, so that what
// goes is no other recorder's movie. Nothing is thrown: the writer reports a path it cannot use.
void removeEarlierMovie(const std::filesystem::path& path);

}  // namespace platform::posix
